#!/usr/bin/env bash
# Installs the Debian packages the project needs; does nothing when they are all there already.
#   install-deps.sh player   what building and running the desktop player needs (make run)
#   install-deps.sh          everything: the player, rkv, the tools, the tests and the packaging
set -euo pipefail

# Building and running the desktop player. The font draws its Japanese dialog title and message.
player=(
  build-essential cmake pkg-config
  qt6-base-dev libsdl2-dev
  fonts-vlgothic
)
# The rest of the build: rkv and the resource generators.
build=(
  libcli11-dev nlohmann-json3-dev libsndfile1-dev libsoxr-dev
  python3
)
# The test suite, the benchmarks and the package checks.
test=(
  libx11-dev libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xdotool x11-apps x11-utils imagemagick sox libsox-fmt-all
  python3-numpy
  openbox dbus playerctl
  dpkg-dev appstream desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl man-db
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine wine64
  pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber locales
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good python3-gi gir1.2-gstreamer-1.0
  gir1.2-gst-plugins-base-1.0 gstreamer1.0-plugins-base-apps
  tmux
)

case "${1:-all}" in
player) packages=("${player[@]}") ;;
all) packages=("${player[@]}" "${build[@]}" "${test[@]}") ;;
*)
  echo "usage: $0 [player|all]" >&2
  exit 2
  ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
  --no-install-recommends "${missing[@]}"
