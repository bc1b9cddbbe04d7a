#!/usr/bin/env bash
# Builds the libFuzzer harnesses (preset "fuzz", clang) and runs each for a
# bounded time, starting from its seed corpus in fuzz/<name>/corpus; new
# inputs go to a scratch directory, not into the tree, and an input that fails
# is kept in build/fuzz/artifacts. Without clang the runs are skipped. Usage: tools/run-fuzz.sh [seconds per fuzzer, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
if ! command -v clang++ >/dev/null 2>&1; then
  echo "=== fuzz: clang++ not found, fuzz runs skipped"
  exit 0
fi
cmake --preset fuzz >/dev/null
names=(registry_file sim_config sim_playback api_calls)
# The configuration file loader's harness needs its export.
grep -q Vimbra_LoadConfigFileA include/VimbraSdk_740QX_RDL.h && names+=(config_file)
cmake --build --preset fuzz --target "${names[@]/%/_fuzzer}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p build/fuzz/artifacts
for name in "${names[@]}"; do
  echo "=== fuzz: $name for ${seconds}s"
  mkdir -p "$scratch/$name"
  "build/fuzz/fuzz/${name}_fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=25 \
    -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$name-" "$scratch/$name" "fuzz/$name/corpus"
done
