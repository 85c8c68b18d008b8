#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing), then
# configures and builds the given CMake presets (default: "default").
#
#   scripts/setup.sh [--target TARGET]... [PRESET]...
#
# With --target only those targets and what they need are built (the main
# job builds axhost, which brings the plug-in and its resources); without,
# everything, tests and benchmarks included.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=()
presets=()
while (($#)); do
  case "$1" in
    --target)
      if (($# < 2)); then echo "setup.sh: --target needs a target name" >&2; exit 2; fi
      targets+=("$2"); shift 2 ;;
    -*) echo "setup.sh: unknown option $1 (usage: setup.sh [--target TARGET]... [PRESET]...)" >&2; exit 2 ;;
    *) presets+=("$1"); shift ;;
  esac
done
if ((${#presets[@]} == 0)); then presets=(default); fi

# Qt 6 for the desktop view; its tests draw offscreen with the DejaVu fonts.
# Qt Charts' CMake package needs Qt OpenGL's, which Debian ships apart.
# Asio (standalone, headers only) carries the drive link over TCP and serial
# lines; KISS FFT computes the spectra of a frequency-response measurement.
packages=(g++ cmake ninja-build binutils nlohmann-json3-dev libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-svg-dev qt6-charts-dev libqt6opengl6-dev fonts-dejavu-core libasio-dev libkissfft-dev)
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

build=()
for target in "${targets[@]}"; do build+=(--target "$target"); done
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" "${build[@]}"
done
