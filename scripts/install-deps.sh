#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the station need, when
# any is missing. Runs apt-get as root, or through sudo otherwise.
set -euo pipefail

packages=(
  cmake ninja-build ccache g++ clang libclang-rt-dev pkg-config
  qt6-base-dev qt6-serialport-dev qt6-qpa-plugins libgl-dev libxcb1-dev
  libqt6sql6-sqlite libsqlite3-dev libqt6sql6-psql libpq-dev postgresql openssl libsodium-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth fonts-dejavu-core fonts-liberation
  libqt6svg6 scdoc dpkg-dev file lintian desktop-file-utils appstream curl systemd
  qt6-httpserver-dev qt6-websockets-dev libjs-chart.js chromium
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
