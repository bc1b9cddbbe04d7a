#!/usr/bin/env bash
# Sets up, builds and runs the demo host against the virtual camera.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target vimbra_demo
./build/default/tools/vimbra_demo "$@"
