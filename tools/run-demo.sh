#!/usr/bin/env bash
# Sets up, builds and runs the demo host against the virtual camera (or the
# cameras of an installed driver). Options go to the demo: --help lists them.
# Only the library and the demo are built, so the tests' packages are not needed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup-deps.sh demo
cmake --preset demo >/dev/null
cmake --build --preset demo --target vimbra_demo
exec ./build/demo/tools/vimbra_demo "$@"
