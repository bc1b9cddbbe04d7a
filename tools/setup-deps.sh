#!/usr/bin/env bash
# Installs what building and testing the library needs on Debian 12.
# Safe to run again: packages already present are not fetched twice.
# Xlib with its shared-memory extension draws the preview window on X11;
# Xvfb gives its tests and benchmark a private X server.
# Set VIMBRA_WITH_BENCH=1 to add the benchmark reference library (OpenCV),
# VIMBRA_WITH_ARM64=1 the cross compiler and emulator of the arm64 tests.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config
          libgtest-dev libgmock-dev libbenchmark-dev
          libjpeg62-turbo-dev libpng-dev zlib1g-dev libtiff-dev
          libx11-dev libxext-dev xvfb)
if [ "${VIMBRA_WITH_BENCH:-0}" = 1 ]; then packages+=(libopencv-dev); fi
if [ "${VIMBRA_WITH_ARM64:-0}" = 1 ]; then packages+=(g++-aarch64-linux-gnu qemu-user); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
