#!/usr/bin/env bash
# The README's embedding example, compiled against an installed librkv found through pkg-config,
# writes what `rkv render` writes. Usage: example_test.sh BUILD_DIR SOURCE_DIR RKV_BIN SONG
set -euo pipefail
build=$1 source=$2 rkv=$3 song=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" --component librkv >/dev/null
pc=$(dirname "$(find "$work/prefix" -name rkv.pc)")
# The first C block after the "Embedding" heading.
awk '/^## Embedding/ {s = 1} s && /^```c$/ {c = 1; next} c && /^```$/ {exit} c' \
    "$source/README.md" >"$work/play.c"
[ -s "$work/play.c" ] || { echo "no example in README.md"; exit 1; }
export PKG_CONFIG_PATH=$pc
cc -std=c99 -pedantic -Wall -Wextra -Werror "$work/play.c" $(pkg-config --cflags --libs rkv) \
    -o "$work/play"
LD_LIBRARY_PATH=$(pkg-config --variable=libdir rkv) "$work/play" "$song" >"$work/got.raw"
"$rkv" render "$song" --loops 1 -o - | tail -c +45 >"$work/want.raw"
[ -s "$work/want.raw" ] && cmp "$work/got.raw" "$work/want.raw"
