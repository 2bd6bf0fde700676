#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Dialscope need.
# Idempotent: only packages that are missing are installed, so a second run costs a
# dpkg query and nothing else. Works as root or through sudo.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config clang libclang-rt-14-dev
  clang-format  # CI checks the format of the files a commit changes
  # libraries
  qt6-base-dev qt6-multimedia-dev libqt6opengl6-dev
  qt6-svg-dev  # the connection dialogs draw their icons from SVG files
  libsqlite3-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg imagemagick sqlite3 xvfb xauth
  xdotool x11-utils  # the acceptance scenarios press keys and click on a real X server
  # packaging: the package's checks (scripts/package.sh)
  lintian desktop-file-utils appstream dpkg-dev
  # runtime: Qt's offscreen and xcb platforms, multimedia back end, fonts
  qt6-qpa-plugins libqt6multimedia6 fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
