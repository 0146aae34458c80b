#!/usr/bin/env bash
# Installs the Debian 12 packages Calvora needs to build, test and run, when any is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcli11-dev libinih-dev libudev-dev libsqlite3-dev sqlite3
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev fonts-dejavu-core
  clang libclang-rt-14-dev clang-format
  dpkg-dev desktop-file-utils libxml2-utils shared-mime-info xdg-utils libfile-mimeinfo-perl
  man-db groff-base librsvg2-bin poppler-utils
  libxlsxwriter-dev python3-openpyxl dbus-daemon
  libmosquitto-dev mosquitto mosquitto-clients openssl
)
if [[ "${1:-}" == "--demo" ]]; then
  packages+=(xvfb xauth imagemagick xdotool)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi
"${sudo_cmd[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
