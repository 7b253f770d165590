#!/usr/bin/env bash
# Turns a Debian 12 machine (as root) into a build machine. Idempotent: a second
# run on a ready machine only checks and returns.
set -euo pipefail

DEPS_CACHE=${LAUNCHER_DEPS_CACHE:-/var/cache/launcher-deps}

PACKAGES=(
  wine wine32:i386 wine64
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  cmake ninja-build nasm xvfb xauth git python3 python3-pytest
  libz-mingw-w64-dev nlohmann-json3-dev googletest dpkg-dev
  unzip zip pngcheck libjpeg-turbo-progs imagemagick curl file netpbm
)

log() { printf 'bootstrap: %s\n' "$*" >&2; }

need_root() {
  if [ "$(id -u)" != 0 ]; then
    log "must run as root (it installs Debian packages)"; exit 1
  fi
}

ensure_i386() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture"
    dpkg --add-architecture i386
    APT_DIRTY=1
  fi
}

ensure_deb_src() {
  if grep -Rqs '^deb-src\|^Types:.*deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null; then
    return
  fi
  log "adding deb-src entries"
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
  else
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > /etc/apt/sources.list.d/launcher-src.list
  fi
  APT_DIRTY=1
}

missing_packages() {
  local p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

ensure_packages() {
  local missing
  missing=$(missing_packages)
  if [ -n "$missing" ] || [ "${APT_DIRTY:-0}" = 1 ]; then
    log "installing: $(echo $missing)"
    apt-get update -q
    # shellcheck disable=SC2086
    [ -z "$missing" ] || DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
  fi
}

src_versions() { apt-cache showsrc "$1" | sed -n 's/^Version: //p' | sort -Vr | uniq; }

# Fetches the newest source version the mirrors still serve (a security update
# may be listed but gone); prints that version.
fetch_source() {
  local pkg=$1 ver
  for ver in $(src_versions "$pkg"); do
    if apt-get source -q --download-only "$pkg=$ver" >/dev/null 2>&1; then
      echo "$ver"; return 0
    fi
    rm -f ./*.dsc ./*.tar.* ./*.diff.gz
  done
  return 1
}

# Cross-builds a CMake-based Debian source package into $DEPS_CACHE/<pkg>-<version>.
build_source_package() {
  local arch=$1 pkg=$2; shift 2
  local ver prefix work cache="$DEPS_CACHE/$arch-w64-mingw32"
  local toolchain="$ROOT/cmake/toolchain-mingw-$arch.cmake"
  mkdir -p "$cache"
  for ver in $(src_versions "$pkg"); do
    if [ -f "$cache/$pkg-$ver/.done" ]; then
      ln -sfn "$cache/$pkg-$ver" "$cache/$pkg"
      return
    fi
  done
  work=$(mktemp -d)
  (
    cd "$work"
    ver=$(fetch_source "$pkg") || { log "cannot fetch the source of $pkg (deb-src missing?)"; exit 1; }
    prefix="$cache/$pkg-$ver"
    log "cross-building $pkg $ver for $arch"
    dpkg-source -x ./*.dsc src >/dev/null
    cmake -S src -B build -G Ninja -Wno-dev \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >/dev/null
    cmake --build build >/dev/null
    cmake --install build >/dev/null
    touch "$prefix/.done"
    ln -sfn "$prefix" "$cache/$pkg"
  )
  rm -rf "$work"
}

main() {
  need_root
  APT_DIRTY=0
  ensure_i386
  ensure_deb_src
  ensure_packages
  ROOT="$(cd "$(dirname "$0")/.." && pwd)"
  local arch
  # i686 is what ships; x86_64 runs the tests where 32-bit processes cannot run.
  for arch in i686 x86_64; do
    build_source_package $arch libjpeg-turbo -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
      -DWITH_JPEG8=OFF -DWITH_SIMD=ON -DREQUIRE_SIMD=ON
    build_source_package $arch libpng1.6 -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
  done
}

main "$@"
