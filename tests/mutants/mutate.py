#!/usr/bin/env python3
"""Mutation check: plant faults in the product code and see whether the suite notices.

Each mutant is applied to a scratch copy of the tree (or, with --in-place, to the tree itself),
rebuilt incrementally, and judged by the tests it names: killed (a test failed or timed out),
survived (all passed), not compiled, or not applicable (its snippet is missing or not unique).
See tests/mutants/README.md.
"""
import argparse, collections, json, os, random, re, shlex, shutil, signal, subprocess, sys, time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# The conversion test tries every float, so it goes last: only what the others miss pays for it.
ENGINE = ('engine_tests; rkv; conversion_test',
          '!tests/engine/engine_tests --gtest_brief=1; -L model; '
          '!tests/checksums/conversion_test --gtest_brief=1')
CLI = ('rkv_cli_tests; rkv', '!tests/cli/rkv_cli_tests --gtest_brief=1; -L cli -E democ; -L model')
# librkv is the render layer's other caller, and the only one that seeks and changes rates.
RENDER = (CLI[0] + '; librkv_api_test; librkv_concurrency_test', CLI[1] + '; -L librkv -E example')
# Where mechanical mutants go, and which targets and tests judge each folder.
MECHANICAL = {'song': ENGINE, 'sound': ENGINE, 'sequencer': ENGINE, 'render': RENDER, 'cli': CLI}
DECLARATION = re.compile(r'^[A-Za-z_][\w:<>]*[\s*&]+[A-Za-z_]\w*\s*(=|;|\{|\()')
OPERATORS = [(' < ', ' <= '), (' <= ', ' < '), (' > ', ' >= '), (' >= ', ' > '),
             (' == ', ' != '), (' != ', ' == '), (' + ', ' - '), (' - ', ' + '),
             (' && ', ' || '), (' || ', ' && ')]


def parse_list(path):
    """Blocks of `key: value` lines, separated by blank lines. A block without `find` sets
    defaults for the blocks after it. `\\n` in find/replace stands for a line break."""
    mutants, defaults, block = [], {}, {}
    for line in open(path, encoding='utf-8').read().split('\n') + ['']:
        if line.startswith('#'):
            continue
        if line.strip():
            key, _, value = line.partition(':')
            block[key.strip()] = value[1:] if value.startswith(' ') else value
            continue
        if 'find' in block:
            m = dict(defaults, **block)
            for k in ('find', 'replace'):
                m[k] = m.get(k, '').replace('\\n', '\n')
            m['id'] = 'H%02d' % (len(mutants) + 1)
            mutants.append(m)
        else:
            defaults.update(block)
        block = {}
    return mutants


def mechanical(src, build, seed, count):
    """`count` mutants at random places of the product code, one operator each."""
    # Only what this build compiles: a fault in a Windows-only file would survive unseen.
    compiled = {os.path.realpath(c['file'])
                for c in json.load(open(os.path.join(build, 'compile_commands.json')))}
    candidates = []
    # Whether each line is compiled on this system: only the Windows branches of #if are told
    # apart, which is all the product code has.
    def here(s):
        if s.startswith('#if'):
            windows = '_WIN32' in s
            stack.append((windows and 'ndef' not in s and '!' not in s, windows))
        elif s.startswith('#else') and stack:
            skip, windows = stack[-1]
            stack[-1] = (windows and not skip, windows)
        elif s.startswith('#endif') and stack:
            stack.pop()
        return not any(skip for skip, _ in stack)
    for folder in sorted(MECHANICAL):
        for name in sorted(os.listdir(os.path.join(src, folder))):
            if not name.endswith('.cpp') or \
                    os.path.realpath(os.path.join(src, folder, name)) not in compiled:
                continue
            rel = folder + '/' + name
            prev, stack = '', []
            lines = open(os.path.join(src, rel), encoding='utf-8').read().split('\n')
            for n, line in enumerate(lines):
                code = line.split('//')[0]
                s = code.strip()
                if not here(s):
                    continue
                if not s or s.startswith(('#', '*', '/*', 'static_assert')):
                    prev = s or prev
                    continue
                for a, b in OPERATORS:
                    kind = 'compare' if set(a + b) & set('=<>') else 'arith'
                    candidates += [(rel, n, m.start(), a, b, kind)
                                   for m in re.finditer(re.escape(a), code)]
                candidates += [(rel, n, m.start(), m.group(1), str(int(m.group(1)) + 1), 'constant')
                               for m in re.finditer(r'(?<![\w.])(\d+)(?![\w.])', code)
                               if '"' not in code[:m.start()]]
                if s.endswith(';') and prev.endswith((';', '{', '}')) and \
                        not DECLARATION.match(s) and not s.startswith(('return', 'case', 'break')):
                    candidates.append((rel, n, 0, line, '', 'dropped'))
                prev = s
    # Each kind of fault equally likely, then a place for it.
    rng, kinds, picked = random.Random(seed), collections.defaultdict(list), set()
    for c in candidates:
        kinds[c[5]].append(c)
    while len(picked) < min(count, len(candidates)):
        picked.add(rng.choice(kinds[rng.choice(sorted(kinds))]))
    return [{'id': 'M%03d' % (i + 1), 'file': rel, 'line': n, 'col': col, 'find': a,
             'replace': b, 'build': MECHANICAL[rel.split('/')[0]][0],
             'tests': MECHANICAL[rel.split('/')[0]][1],
             'why': '%s %s:%d %r -> %r' % (kind, rel, n + 1, a.strip(), b.strip())}
            for i, (rel, n, col, a, b, kind) in enumerate(sorted(picked))]


def mutate(text, m):
    """The mutated text, or None when the mutant does not apply."""
    if 'line' in m:
        lines = text.split('\n')
        line = lines[m['line']]
        if line[m['col']:m['col'] + len(m['find'])] != m['find']:
            return None
        lines[m['line']] = line[:m['col']] + m['replace'] + line[m['col'] + len(m['find']):]
        return '\n'.join(lines)
    return text.replace(m['find'], m['replace']) if text.count(m['find']) == 1 else None


def run(cmd, cwd, timeout):
    """The exit code of a command run quietly, None when it timed out. A `!command` stage runs
    under `sh`: on a timeout or an interrupt its whole process group goes, or a hung test would
    outlive the run and keep a core busy."""
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
    try:
        return p.wait(timeout=timeout)
    except BaseException as e:
        os.killpg(p.pid, signal.SIGKILL)
        p.wait()
        if isinstance(e, subprocess.TimeoutExpired):
            return None
        raise


def build_targets(build, args, targets, timeout):
    return run(['cmake', '--build', build, '-j', str(args.jobs), '--target'] + targets, build,
               timeout)


def prepare(args):
    """The tree to mutate and its configured build directory."""
    if args.in_place:
        return ROOT, os.path.abspath(args.build or os.path.join(ROOT, 'build-test'))
    scratch = os.path.abspath(args.scratch)
    src = os.path.join(scratch, 'src')
    git = lambda *a: subprocess.run(['git'] + list(a), cwd=ROOT, check=True,
                                    stdout=subprocess.PIPE).stdout
    # The working tree, or with --rev a commit of it (to score an older suite).
    files = (git('ls-tree', '-r', '--name-only', args.rev) if args.rev else
             git('ls-files', '-co', '--exclude-standard')).decode().split('\n')
    # Only changed files are written, so the scratch build stays incremental between runs.
    for rel in filter(None, files):
        a, b = os.path.join(ROOT, rel), os.path.join(src, rel)
        if not args.rev and not os.path.isfile(a):
            continue
        data = git('show', '%s:%s' % (args.rev, rel)) if args.rev else open(a, 'rb').read()
        if os.path.exists(b) and open(b, 'rb').read() == data:
            continue
        os.makedirs(os.path.dirname(b), exist_ok=True)
        open(b, 'wb').write(data)
        if not args.rev:
            shutil.copystat(a, b)
    build = os.path.join(scratch, 'build')
    subprocess.run(['cmake', '-S', src, '-B', build, '-DCMAKE_BUILD_TYPE=RelWithDebInfo',
                    '-DRKV_BUILD_BENCH=OFF'], check=True, stdout=subprocess.DEVNULL)
    return src, build


def judge(m, src, build, args):
    path = os.path.join(src, m['file'])
    original = open(path, encoding='utf-8').read()
    mutated = mutate(original, m)
    if mutated is None:
        return 'not applicable'
    try:
        open(path, 'w', encoding='utf-8').write(mutated)
        # Stages separated by ';' are built and run in turn, cheap ones first; the first failure
        # kills. A stage with no targets of its own uses the previous stage's.
        tests, builds = m['tests'].split(';'), m['build'].split(';')
        for i, stage in enumerate(tests):
            targets = builds[min(i, len(builds) - 1)].split()
            if i < len(builds) and targets and build_targets(build, args, targets, 900) != 0:
                return 'not compiled'
            # `!command` runs a test program itself (all of a GoogleTest binary in one process is
            # much faster than one CTest process per test); otherwise the stage is ctest arguments.
            cmd = ['sh', '-c', stage.strip()[1:]] if stage.strip().startswith('!') else \
                ['ctest', '-j', str(args.jobs), '--stop-on-failure', '--timeout', '120'] + \
                shlex.split(stage)
            rc = run(cmd, build, args.timeout)
            if rc != 0:
                return 'killed (timeout)' if rc is None else 'killed'
        return 'survived'
    finally:
        open(path, 'w', encoding='utf-8').write(original)


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    p.add_argument('--list', default=os.path.join(ROOT, 'tests/mutants/mutants.txt'))
    p.add_argument('--only', help='comma-separated ids (H01,H07) of hand-written mutants')
    p.add_argument('--ci', action='store_true', help='only the sample marked `ci`, no mechanical')
    p.add_argument('--mechanical', type=int, default=100, help='how many mechanical mutants')
    p.add_argument('--seed', type=int, default=1)
    p.add_argument('--skip', type=int, default=0,
                   help='leave out the first N mechanical mutants (to finish a run cut short)')
    p.add_argument('--scratch', default=os.path.join(ROOT, 'build-mutants'))
    p.add_argument('--rev', help='mutate this commit instead of the working tree')
    p.add_argument('--in-place', action='store_true', help='mutate this tree, build in --build')
    p.add_argument('--build', help='build directory for --in-place (default build-test)')
    p.add_argument('--jobs', type=int, default=2)
    p.add_argument('--timeout', type=int, default=300, help='seconds of tests per stage')
    args = p.parse_args()
    # Killed from outside, still put the mutated file back.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

    src, build = prepare(args)
    hand = parse_list(args.list)
    if args.ci:
        hand, args.mechanical = [m for m in hand if 'ci' in m], 0
    if args.only:
        hand = [m for m in hand if m['id'] in args.only.split(',')]
    machine = mechanical(src, build, args.seed, args.mechanical)[args.skip:]
    sets = [('hand-written', hand), ('mechanical (seed %d)' % args.seed, machine)]
    targets = sorted({t for _, ms in sets for m in ms for t in m['build'].replace(';', ' ').split()})
    if build_targets(build, args, targets, 3600) != 0:
        sys.exit('mutate: the unmutated tree does not build')
    failed = interrupted = False
    for title, ms in sets:
        if not ms or interrupted:
            continue
        print('== %s: %d mutants' % (title, len(ms)), flush=True)
        results = []
        try:
            for m in ms:
                start = time.time()
                results.append((m, judge(m, src, build, args), time.time() - start))
                print('%-5s %-16s %5.0fs  %s: %s' % (m['id'], results[-1][1], results[-1][2],
                                                    m['file'], m['why']), flush=True)
        except (KeyboardInterrupt, SystemExit):
            print('-- interrupted after %d of %d mutants' % (len(results), len(ms)))
            interrupted = True
        counts = collections.Counter(r for _, r, _ in results)
        killed = counts['killed'] + counts['killed (timeout)']
        judged = killed + counts['survived']
        print('-- %s: %d of %d killed (%.1f %%); %s; %.0f s' % (
            title, killed, judged, 100.0 * killed / max(judged, 1),
            ', '.join('%s %d' % kv for kv in sorted(counts.items())),
            sum(t for _, _, t in results)))
        for m, r, _ in results:
            if r == 'survived':
                print('   survived %s %s: %s' % (m['id'], m['file'], m['why']))
        failed |= title == 'hand-written' and killed < judged
    # Leave the build matching the unmutated tree.
    build_targets(build, args, targets, 3600)
    sys.exit(1 if failed and args.in_place else 0)


if __name__ == '__main__':
    main()
