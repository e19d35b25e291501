#!/usr/bin/env bash
# librkv exports the C API and nothing else, under its SONAME. Usage: symbols_test.sh LIBRARY
set -euo pipefail
symbols=$(nm -D --defined-only "$1" | awk '{print $3}')
others=$(grep -v '^rkv_' <<<"$symbols" || true)
[ -z "$others" ] || { echo "exported besides the API:"; echo "$others"; exit 1; }
# Every function the header declares is there.
declared=$(grep -o '^RKV_API [^(]*(' "$(dirname "$0")/../../include/rkv/rkv.h" |
    sed 's/.* \**\(rkv_[a-z0-9_]*\)($/\1/' | sort)
[ "$declared" = "$(sort <<<"$symbols")" ] || { echo "declared and exported differ"; exit 1; }
objdump -p "$1" | grep -q 'SONAME *librkv\.so\.0$'
