#!/bin/sh
# The mixer's wide paths hold vector code in this build, whatever its optimisation level, and the
# four-voice kernels widen each voice's bytes in the loop itself (its voices unrolled).
# Usage: vector_paths.sh ENGINE_LIBRARY
set -eu
objdump -d --no-show-raw-insn "$@" | c++filt | awk '
  /^[0-9a-f]+ <.*>:$/ { name = $0; next }
  name ~ /(interleave|floatToPcm16).*clone \.arch_x86_64_v[34]|addVoices(Avx2|Avx512)</ {
    seen[name] += 0; if ($0 ~ /%[yz]mm/) seen[name]++
    if (name ~ /<4ul>/ && $0 ~ /vpmovsxbd/) widened[name]++ }
  END {
    n = 0; bad = 0
    for (f in seen) { n++; print seen[f], f; if (seen[f] == 0) bad = 1 }
    if (n != 8) { print "expected 8 wide paths, found " n; bad = 1 }
    for (f in seen) if (f ~ /<4ul>/ && widened[f] < 4) { print "voices not unrolled: " f; bad = 1 }
    exit bad }'
