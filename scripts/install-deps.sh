#!/usr/bin/env bash
# Installs the Debian packages the player, its tools and its tests need; does nothing when they
# are all there already.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libsdl2-dev libx11-dev
  libcli11-dev nlohmann-json3-dev libsndfile1-dev libsoxr-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xdotool x11-apps imagemagick sox libsox-fmt-all
  python3 python3-numpy
  clang-14 libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
