#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing), then
# configures and builds the given CMake presets (default: "default").
set -euo pipefail
cd "$(dirname "$0")/.."

# Qt 6 for the desktop view; its tests draw offscreen with the DejaVu fonts.
# Qt Charts' CMake package needs Qt OpenGL's, which Debian ships apart.
packages=(g++ cmake ninja-build binutils nlohmann-json3-dev libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-svg-dev qt6-charts-dev libqt6opengl6-dev fonts-dejavu-core)
# What a script needs beyond the build (scripts/report-picture.sh: chromium).
read -r -a extra <<<"${AX_EXTRA_PACKAGES:-}"
packages+=("${extra[@]}")
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  echo "Installing missing packages: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

presets=("$@")
if ((${#presets[@]} == 0)); then presets=(default); fi
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
