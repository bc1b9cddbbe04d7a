#!/usr/bin/env bash
# Cross-builds the image layer and its tests for 64-bit Arm and runs them
# under qemu-user: the NEON paths and everything else of the layer on that
# processor. Installs the cross compiler and the emulator when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(g++-aarch64-linux-gnu qemu-user libgtest-dev libgmock-dev cmake ninja-build)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
cmake --preset arm64 >/dev/null
cmake --build --preset arm64
ctest --preset arm64
