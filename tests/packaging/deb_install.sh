#!/usr/bin/env bash
# Builds the Debian package from this build folder, installs it as a user would (apt, so its
# dependencies are honoured) and checks what the installed system sees: the programs, the menu
# entries, the AppStream file, the song file type and the man pages. Removes it again unless it
# was installed before. Needs root and a build folder with everything built.
# Usage: deb_install.sh BUILD_DIR VERSION
set -uo pipefail
BUILD=$(readlink -f "$1")
VERSION=$2
SKIP=77
[ "$(id -u)" = 0 ] || { echo "SKIP: installing a package needs root"; exit $SKIP; }
for c in cpack dpkg-shlibdeps apt-get desktop-file-validate appstreamcli xdg-mime mimetype man; do
    command -v "$c" >/dev/null || { echo "SKIP: '$c' is missing (scripts/install-deps.sh)"; exit $SKIP; }
done

WORK=$(mktemp -d)
was_installed=$(dpkg-query -W -f='${Status}' tuvimoplayer2 2>/dev/null | grep -c 'ok installed')
cleanup() {
    [ "$was_installed" = 0 ] && dpkg -r tuvimoplayer2 >/dev/null 2>&1
    rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$BUILD" && cpack -G DEB -B "$WORK" >"$WORK/cpack.log" 2>&1) ||
    fail "cpack: $(tail -5 "$WORK/cpack.log")"
deb=$(ls "$WORK"/tuvimoplayer2_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no .deb in $WORK"
echo "built $(basename "$deb"), $(stat -c %s "$deb") bytes; depends: $(dpkg-deb -f "$deb" Depends)"
# Loaded at run time, so only the package's own list brings them.
for lib in libsdl2-2.0-0 libsndfile1 libsoxr0; do
    dpkg-deb -f "$deb" Depends | grep -q "$lib" || fail "the package does not depend on $lib"
done
DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    --no-install-recommends "$deb" >"$WORK/apt.log" 2>&1 || fail "apt install: $(tail -5 "$WORK/apt.log")"

[ "$(/usr/bin/rkv --version | head -n 1)" = "rkv $VERSION" ] || fail "rkv --version: $(/usr/bin/rkv --version 2>&1)"
[ "$(/usr/bin/tuvimoplayer2 --version)" = "tuvimoplayer2 $VERSION" ] || fail "player --version"
demo=/usr/share/tuvimoplayer2/demo
desktop-file-validate /usr/share/applications/tuvimoplayer2.desktop \
    /usr/share/applications/rkv-play.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net /usr/share/metainfo/io.github.tuvimoplayer2.metainfo.xml ||
    fail "appstreamcli validate"
[ "$(sed -n 's/^Path=//p' /usr/share/applications/tuvimoplayer2.desktop)" = "$demo" ] ||
    fail "the menu entry does not start the player among the demo songs"
grep -q '^MimeType' /usr/share/applications/tuvimoplayer2.desktop &&
    fail "the player's entry claims to open files"
for size in 16x16 24x24 32x32 48x48 64x64 128x128 256x256; do
    [ -s /usr/share/icons/hicolor/$size/apps/tuvimoplayer2.png ] || fail "no $size icon"
done
[ -s /usr/share/icons/hicolor/scalable/apps/tuvimoplayer2.svg ] || fail "no scalable icon"

# The type by extension, and by the magic alone.
/usr/bin/rkv info $demo/*.rkv >/dev/null || fail "the installed demo songs"
# The sound-file library and the converter, found when first needed.
/usr/bin/rkv render $demo/orbit.rkv --seconds 1 --rate 48000 -o "$WORK/orbit.flac" ||
    fail "the installed rkv cannot write a resampled FLAC"
cp $demo/orbit.rkv "$WORK/x.rkv" && cp $demo/orbit.rkv "$WORK/song.data"
for f in x.rkv song.data; do
    type=$(xdg-mime query filetype "$WORK/$f")
    [ "$type" = audio/x-rkv ] || fail "xdg-mime query filetype $f: '$type'"
done
handler=$(xdg-mime query default audio/x-rkv)
[ "$handler" = rkv-play.desktop ] || fail "songs open with '$handler'"

for page in rkv tuvimoplayer2; do
    MANWIDTH=80 man -P cat "$page" 2>/dev/null | grep -q "^NAME" || fail "man $page"
done
# GStreamer finds the plugin where it was installed, and the plugin finds librkv.
if [ -e "$BUILD/gst/libgstrkv.so" ] && command -v gst-inspect-1.0 >/dev/null; then
    GST_REGISTRY="$WORK/registry.bin" gst-inspect-1.0 rkvdec >/dev/null || fail "gst-inspect rkvdec"
fi
echo "PASS: installed, versions, a resampled FLAC, menu entries, AppStream, icons, file type audio/x-rkv, man pages"
