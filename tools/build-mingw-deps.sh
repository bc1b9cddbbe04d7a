#!/usr/bin/env bash
# Cross-builds the still image libraries of the Windows DLL (libjpeg-turbo,
# libpng, libtiff) as static libraries for x86_64-w64-mingw32, from Debian's
# source packages with the project's mingw toolchain. zlib is Debian's own
# static build for the target (libz-mingw-w64-dev), installed by
# tools/setup-deps.sh. The libraries go into a prefix under a cache directory
# whose name holds the library versions and a digest of the compiler, the
# toolchain file and this script; a complete prefix (its stamp file exists) is
# used as it is, without any other work.
#
# Usage: bash tools/build-mingw-deps.sh                 build when missing, then print the prefix
#        bash tools/build-mingw-deps.sh --print-prefix  print the prefix only (built or not)
# VIMBRA_MINGW_DEPS names the cache directory (default ~/.cache/vimbra/mingw-deps).
# Building needs root or sudo once: it installs packages, adds a deb-src entry
# for Debian's sources and runs apt-get update. Progress goes to standard
# error; standard output carries only the prefix.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
toolchain=$root/cmake/mingw-w64.cmake
target=x86_64-w64-mingw32
compiler=$target-gcc-posix
zlib_archive=/usr/$target/lib/libz.a

# Upstream versions of Debian 12's source packages. When Debian moves to
# another upstream version the build stops and says so.
declare -A upstream=([libjpeg-turbo]=2.1.5 [libpng1.6]=1.6.39 [tiff]=4.5.0)
packages=(libjpeg-turbo libpng1.6 tiff)

cache=${VIMBRA_MINGW_DEPS:-$HOME/.cache/vimbra/mingw-deps}
compiler_version=$("$compiler" -dumpfullversion 2>/dev/null || echo none)
zlib_version=$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev 2>/dev/null || echo none)
digest=$( { echo "$compiler $compiler_version zlib $zlib_version"; cat "$toolchain" "${BASH_SOURCE[0]}"; } |
  sha256sum | cut -c1-16)
key="jpeg${upstream[libjpeg-turbo]}-png${upstream[libpng1.6]}-tiff${upstream[tiff]}-$digest"
prefix=$cache/$key
stamp=$prefix/.complete

if [ "${1:-}" = --print-prefix ]; then
  echo "$prefix"
  exit 0
fi
[ $# -eq 0 ] || { echo "usage: $0 [--print-prefix]" >&2; exit 64; }
if [ -f "$stamp" ]; then
  echo "$prefix"
  exit 0
fi

say() { echo "build-mingw-deps: $*" >&2; }
mkdir -p "$cache"
# One build at a time per cache; a second caller waits and then finds the
# prefix complete.
exec 9>"$cache/.lock"
flock 9
if [ -f "$stamp" ]; then
  echo "$prefix"
  exit 0
fi

started=$SECONDS
bash "$root/tools/setup-deps.sh" mingw >&2
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  say "adding the deb-src entry and running apt-get update need root or sudo: run this as root once"
  exit 1
fi

# Debian's source packages need a deb-src entry: the same archives and suites
# as the binary entries.
deb_src=/etc/apt/sources.list.d/vimbra-deb-src.sources
if [ ! -f "$deb_src" ]; then
  binary=/etc/apt/sources.list.d/debian.sources
  if [ ! -f "$binary" ]; then
    say "no $binary to take the deb-src entry from; add deb-src lines for bookworm yourself"
    exit 1
  fi
  say "adding $deb_src"
  sed 's/^Types:.*/Types: deb-src/' "$binary" | "${as_root[@]}" tee "$deb_src" >/dev/null
fi
"${as_root[@]}" apt-get update -qq

work=$cache/work-$key
staging=$cache/staging-$key
rm -rf "$work" "$staging"
mkdir -p "$work/src"
# Runs a step with its output in a log file, shown in part when it fails.
logged() {
  local log=$1
  shift
  if ! "$@" >"$log" 2>&1; then
    say "failed: $* (last lines of $log follow)"
    tail -n 40 "$log" >&2
    exit 1
  fi
}

# The Debian versions of a source package with the expected upstream version,
# newest first.
versions_of() {
  apt-cache showsrc --only-source "$1" | sed -n 's/^Version: //p' |
    awk -v up="$2" '{ v = $0; sub(/^[0-9]+:/, "", v) } index(v, up "-") == 1' | sort -u -r -V
}

declare -A source_dir debian_version
for package in "${packages[@]}"; do
  say "fetching the source of $package"
  # A mirror may list a version whose files it does not (yet) hold: the next
  # older one is taken then.
  fetched=
  for version in $(versions_of "$package" "${upstream[$package]}"); do
    if (cd "$work/src" && apt-get source --download-only "$package=$version") \
      >>"$work/fetch-$package.log" 2>&1; then
      fetched=$version
      break
    fi
    say "$package $version cannot be fetched; trying an older version"
    rm -f "$work/src/${package}_"*
  done
  if [ -z "$fetched" ]; then
    say "no source of $package ${upstream[$package]} could be fetched (Debian may have moved to" \
      "another upstream version: update this script); last lines of $work/fetch-$package.log:"
    tail -n 20 "$work/fetch-$package.log" >&2
    exit 1
  fi
  debian_version[$package]=$fetched
  # dpkg-source applies Debian's patches (its security fixes among them).
  logged "$work/unpack-$package.log" dpkg-source -x "$work/src/${package}_${fetched#*:}.dsc" \
    "$work/$package"
  source_dir[$package]=$work/$package
done

common=(
  -G Ninja
  -DCMAKE_TOOLCHAIN_FILE="$toolchain"
  -DVIMBRA_MINGW_DEPS_PREFIX=
  -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX="$staging"
  -DBUILD_SHARED_LIBS=OFF
)
build() {
  local package=$1
  shift
  local from=$SECONDS
  say "building $package"
  logged "$work/configure-$package.log" \
    cmake -S "${source_dir[$package]}" -B "$work/build-$package" "${common[@]}" "$@"
  logged "$work/build-$package.log" cmake --build "$work/build-$package" -j2
  logged "$work/install-$package.log" cmake --install "$work/build-$package"
  say "built $package in $((SECONDS - from)) s"
}

# libjpeg-turbo with its SIMD code (nasm), without the TurboJPEG library.
build libjpeg-turbo -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
  -DWITH_SIMD=ON -DREQUIRE_SIMD=ON
# libpng against Debian's static zlib, without its programs and tests.
build libpng1.6 -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF \
  -DZLIB_LIBRARY="$zlib_archive" -DZLIB_INCLUDE_DIR="/usr/$target/include"
# libtiff writes uncompressed files here: no codecs, tools, tests or C++ API.
tiff_args=()
for option in tiff-tools tiff-tests tiff-contrib tiff-docs cxx zlib libdeflate pixarlog jpeg \
  old-jpeg jbig lerc lzma zstd webp ccitt packbits lzw thunder next logluv mdi; do
  tiff_args+=("-D$option=OFF")
done
build tiff "${tiff_args[@]}"

{
  echo "target $target, $compiler $compiler_version, zlib libz-mingw-w64-dev $zlib_version"
  for package in "${packages[@]}"; do echo "$package ${debian_version[$package]}"; done
  echo "built in $((SECONDS - started)) s"
} >"$staging/.complete"
rm -rf "$prefix"
mv "$staging" "$prefix"
rm -rf "$work"
say "done in $((SECONDS - started)) s: $prefix"
echo "$prefix"
