#!/bin/sh
# The mixer's wide clones hold vector code in this build, whatever its optimisation level.
# Usage: vector_paths.sh ENGINE_LIBRARY
set -eu
objdump -d --no-show-raw-insn "$@" | c++filt | awk '
  /^[0-9a-f]+ <.*>:$/ { name = $0; next }
  name ~ /(addVoice|addVoiceQuad|interleave|floatToPcm16).*clone \.arch_x86_64_v[34]/ {
    seen[name] += 0; if ($0 ~ /%[yz]mm/) seen[name]++ }
  END {
    n = 0; bad = 0
    for (f in seen) { n++; print seen[f], f; if (seen[f] == 0) bad = 1 }
    if (n != 8) { print "expected 8 wide clones, found " n; bad = 1 }
    exit bad }'
