#!/usr/bin/env bash
# Full-frame JPEG saving by the Windows DLL under Wine next to the Linux
# library, in one run (bench/wine/README.md). Needs configured `default` and
# `mingw` build directories.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
cmake --build build/default -j2 --target bench_save_jpeg >/dev/null
cmake --build build/mingw -j2 --target windows_bench_save_jpeg >/dev/null
cp -u build/mingw/src/api/VimbraSdk_740QX_RDL.dll build/mingw/tests/windows/
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
linux_ms=$(env VIMBRA_DRIVER=sim VIMBRA_SIM_TIMING=0 VIMBRA_WINDOWS=offscreen \
  VIMBRA_REGISTRY_FILE="$scratch/registry.reg" \
  "$root/build/default/bench/wine/bench_save_jpeg" linux.jpg)
wine_ms=$(env WINEPREFIX="$root/build/mingw/wineprefix" WINEDEBUG=-all \
  WINEDLLOVERRIDES=mscoree,mshtml= VIMBRA_DRIVER=sim VIMBRA_SIM_TIMING=0 \
  /usr/lib/wine/wine64 "$root/build/mingw/tests/windows/windows_bench_save_jpeg.exe" wine.jpg | tr -d '\r')
echo "JPEG save of a full frame: Linux $linux_ms ms, Wine $wine_ms ms"
awk -v w="$wine_ms" -v l="$linux_ms" 'BEGIN { printf "Wine / Linux: %.2f\n", w / l }'
