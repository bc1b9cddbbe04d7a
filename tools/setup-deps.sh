#!/usr/bin/env bash
# Installs what building and testing the library needs on Debian 12.
# Safe to run again: packages already present are not fetched twice.
# The property dialogs are drawn with FLTK (libfltk1.3-dev); their tests start
# an Xvfb X server when no display is set.
# Set VIMBRA_WITH_BENCH=1 to add the benchmark reference library (OpenCV).
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config
          libgtest-dev libgmock-dev libbenchmark-dev
          libjpeg62-turbo-dev libpng-dev zlib1g-dev libtiff-dev
          libfltk1.3-dev xvfb)
if [ "${VIMBRA_WITH_BENCH:-0}" = 1 ]; then packages+=(libopencv-dev); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
