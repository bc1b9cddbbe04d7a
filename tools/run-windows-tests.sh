#!/usr/bin/env bash
# Cross-builds the Windows DLL and its checks with mingw-w64 and runs them
# under Wine against the virtual camera, on a private X server so that the
# preview windows and dialogs have a display. Installs the cross compiler,
# Wine and Xvfb when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup-deps.sh mingw test
# The image libraries for the target: built once, then taken from the cache.
bash tools/build-mingw-deps.sh >/dev/null
cmake --preset mingw >/dev/null
cmake --build --preset mingw
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset mingw
