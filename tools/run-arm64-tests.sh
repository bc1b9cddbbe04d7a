#!/usr/bin/env bash
# Cross-builds the image layer and its tests for 64-bit Arm and runs them
# under qemu-user: the NEON paths and everything else of the layer on that
# processor. Installs the cross compiler and the emulator when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
VIMBRA_WITH_ARM64=1 bash tools/setup-deps.sh
cmake --preset arm64 >/dev/null
cmake --build --preset arm64
ctest --preset arm64
