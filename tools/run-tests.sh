#!/usr/bin/env bash
# Sets up, builds and runs every test in one preset (default, asan or tsan).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
bash tools/setup-deps.sh test
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
