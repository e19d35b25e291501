#!/usr/bin/env bash
# Cross-builds the codec and resampling libraries the full rkv.exe links (libogg, libvorbis, opus,
# flac, libsndfile, libsoxr) from Debian's source packages, as static MinGW-w64 libraries.
# Usage: scripts/build-win-deps.sh DEPS_DIR. The sources come with apt-get through a source list
# of our own (the system's apt setup is left as it is); sources and libraries stay in DEPS_DIR
# and a library already installed there is not built again.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
deps=$(cd "$1" && pwd)
prefix="$deps/prefix"
jobs=${JOBS:-2}
mkdir -p "$deps/apt/lists/partial" "$deps/src" "$prefix"
# Our toolchain, with the libraries built here found as the MinGW ones are; the full rkv.exe is
# configured with it too.
cat >"$deps/toolchain.cmake" <<EOF
include($repo/cmake/toolchain-mingw64.cmake)
list(APPEND CMAKE_FIND_ROOT_PATH $prefix)
EOF

apt_opts=(-q -o Dir::Etc::SourceList="$deps/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o Dir::State::Lists="$deps/apt/lists" -o APT::Sandbox::User=root)
. /etc/os-release
echo "deb-src http://deb.debian.org/debian $VERSION_CODENAME main" >"$deps/apt/sources.list"

# package, the library it installs, CMake options; in dependency order.
builds=(
  "libogg|libogg.a|-DINSTALL_DOCS=OFF"
  "libvorbis|libvorbisenc.a|"
  "opus|libopus.a|configure"
  "flac|libFLAC.a|-DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOCS=OFF -DINSTALL_MANPAGES=OFF -DWITH_OGG=ON -DWITH_STACK_PROTECTOR=OFF -DWITH_FORTIFY_SOURCE=OFF"
  "libsndfile|libsndfile.a|-DCMAKE_C_FLAGS=-DFLAC__NO_DLL -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DENABLE_MPEG=OFF -DENABLE_CPACK=OFF -DINSTALL_PKGCONFIG_MODULE=ON"
  "libsoxr|libsoxr.a|-DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF -DBUILD_EXAMPLES=OFF"
)

fetched=0
for entry in "${builds[@]}"; do
  IFS='|' read -r pkg lib opts <<<"$entry"
  if [ -f "$prefix/lib/$lib" ]; then continue; fi
  src=$(find "$deps/src" -mindepth 1 -maxdepth 1 -type d -name "$pkg-[0-9]*" | head -n1)
  if [ -z "$src" ]; then
    if [ "$fetched" = 0 ]; then apt-get "${apt_opts[@]}" update; fetched=1; fi
    (cd "$deps/src" && apt-get "${apt_opts[@]}" source "$pkg")
    src=$(find "$deps/src" -mindepth 1 -maxdepth 1 -type d -name "$pkg-[0-9]*" | head -n1)
  fi
  echo "== $pkg ($(basename "$src"))"
  start=$(date +%s)
  if [ "$opts" = configure ]; then
    # This release's CMake files are incomplete in the source package: its configure script it is,
    # without the fortified string calls (they need libssp, which nothing else here links).
    mkdir -p "$deps/build/$pkg"
    (cd "$deps/build/$pkg" && nice "$src/configure" --host=x86_64-w64-mingw32 \
      CC=x86_64-w64-mingw32-gcc-posix CFLAGS="-O2 -D_FORTIFY_SOURCE=0" --prefix="$prefix" --disable-shared --enable-static \
      --disable-doc --disable-extra-programs --disable-stack-protector \
      && nice make -j "$jobs" install) >"$deps/build-$pkg.log" 2>&1
    # libsndfile's package file looks for Opus by its CMake package: say where it is.
    mkdir -p "$prefix/lib/cmake/Opus"
    cat >"$prefix/lib/cmake/Opus/OpusConfig.cmake" <<EOF
add_library(Opus::opus STATIC IMPORTED)
set_target_properties(Opus::opus PROPERTIES IMPORTED_LOCATION $prefix/lib/libopus.a
  INTERFACE_INCLUDE_DIRECTORIES "$prefix/include;$prefix/include/opus")
EOF
    echo "   built in $(($(date +%s) - start)) s"
    continue
  fi
  # shellcheck disable=SC2086 # the options are words
  nice cmake -S "$src" -B "$deps/build/$pkg" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$deps/toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DBUILD_TESTS=OFF -Wno-dev $opts >"$deps/build-$pkg.log" 2>&1
  nice cmake --build "$deps/build/$pkg" -j "$jobs" >>"$deps/build-$pkg.log" 2>&1
  cmake --install "$deps/build/$pkg" >>"$deps/build-$pkg.log"
  echo "   built in $(($(date +%s) - start)) s"
done
