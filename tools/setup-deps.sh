#!/usr/bin/env bash
# Installs the Debian 12 packages that one step needs:
#   demo   build the library and the demo
#   test   the demo's packages and those of the tests (the default)
#   bench  the demo's packages and those of the benchmarks
#   arm64  the cross compiler and emulator of the arm64 tests
#   mingw  the cross compiler of the Windows DLL and Wine to run its checks
# Usage: bash tools/setup-deps.sh [demo|test|bench|arm64|mingw]...
# VIMBRA_WITH_BENCH=1 and VIMBRA_WITH_ARM64=1 add those steps as well.
# Safe to run again: only missing packages are fetched. Installing needs root
# or sudo; without either it prints the command for root to run.
set -euo pipefail

# One package per line, grouped by the step that needs it.
# The library: compiler and build tools, the still image libraries, Xlib with
# its shared-memory extension for the preview window, FLTK for the dialogs.
demo_packages=(
  build-essential
  cmake
  ninja-build
  pkg-config
  libjpeg62-turbo-dev
  libpng-dev
  zlib1g-dev
  libtiff-dev
  libx11-dev
  libxext-dev
  libfltk1.3-dev
)
# The tests: GoogleTest, numpy for the Python binding, independent readers the
# output tests check saved files with, Xvfb as a private X server.
test_packages=(
  libgtest-dev
  libgmock-dev
  python3
  python3-numpy
  libjpeg-turbo-progs
  pngcheck
  libtiff-tools
  ffmpeg
  xvfb
)
# The benchmarks: Google Benchmark, OpenCV as a reference, Xvfb for the preview's.
bench_packages=(
  libbenchmark-dev
  libopencv-dev
  xvfb
)
arm64_packages=(
  g++-aarch64-linux-gnu
  qemu-user
)
# The Windows DLL: mingw-w64 with posix threads (for std::thread and
# std::mutex), its Windows headers and libraries, and Wine for its checks.
# tools/build-mingw-deps.sh cross-builds the image libraries from Debian's
# sources (dpkg-dev unpacks them, nasm assembles libjpeg-turbo's SIMD code)
# and links them with Debian's static zlib for the target.
mingw_packages=(
  g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev
  wine64
  dpkg-dev
  nasm
  libz-mingw-w64-dev
)

steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(test)
[ "${VIMBRA_WITH_BENCH:-0}" != 1 ] || steps+=(bench)
[ "${VIMBRA_WITH_ARM64:-0}" != 1 ] || steps+=(arm64)
packages=("${demo_packages[@]}")
for step in "${steps[@]}"; do
  case "$step" in
    demo) ;;
    test) packages+=("${test_packages[@]}") ;;
    bench) packages+=("${bench_packages[@]}") ;;
    arm64) packages+=("${arm64_packages[@]}") ;;
    mingw) packages+=("${mingw_packages[@]}") ;;
    *) echo "setup-deps: unknown step '$step' (choose demo, test, bench, arm64 or mingw)" >&2; exit 64 ;;
  esac
done

if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
  echo "setup-deps: this script installs Debian packages with apt-get; on another system" >&2
  echo "install the equivalents of: ${packages[*]}" >&2
  exit 1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  echo "setup-deps: these packages are missing: ${missing[*]}" >&2
  echo "Installing them needs root, and sudo is not installed. Either run as root:" >&2
  echo "    su -c 'apt-get update && apt-get install -y ${missing[*]}'" >&2
  echo "or install sudo (as root: apt-get install sudo && adduser $(id -un) sudo, then log in" >&2
  echo "again) and run this script once more." >&2
  exit 1
fi
echo "setup-deps: installing ${missing[*]}"
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
