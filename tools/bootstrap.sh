#!/usr/bin/env bash
# Turns a Debian 12 machine (as root) into a build machine. Idempotent: on a
# ready machine it only checks, needs no root and returns.
set -euo pipefail

DEPS_CACHE=${LAUNCHER_DEPS_CACHE:-/var/cache/launcher-deps}

PACKAGES=(
  wine wine32:i386 wine64
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  g++ cmake ninja-build nasm xvfb xauth git python3 python3-pytest
  libz-mingw-w64-dev nlohmann-json3-dev googletest dpkg-dev
  unzip zip pngcheck libjpeg-turbo-progs imagemagick curl file netpbm
)

log() { printf 'bootstrap: %s\n' "$*" >&2; }

need_root() {
  if [ "$(id -u)" != 0 ]; then
    log "must run as root (it installs Debian packages)"; exit 1
  fi
}

has_i386() { dpkg --print-foreign-architectures | grep -qx i386; }

has_deb_src() { grep -Rqs '^deb-src\|^Types:.*deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null; }

ensure_i386() {
  if ! has_i386; then
    log "adding the i386 architecture"
    dpkg --add-architecture i386
    APT_DIRTY=1
  fi
}

ensure_deb_src() {
  if has_deb_src; then
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

# Runs a command with its output kept aside; shows the output when it fails.
quietly() {
  local out status=0
  out=$(mktemp)
  "$@" >"$out" 2>&1 || status=$?
  if [ "$status" != 0 ]; then
    log "failed ($status): $*"
    cat "$out" >&2
  fi
  rm -f "$out"
  return "$status"
}

# True when the library is built for a source version the mirrors list and
# the cache's link points at it.
source_package_ready() {
  local arch=$1 pkg=$2 ver cache="$DEPS_CACHE/$1-w64-mingw32"
  for ver in $(src_versions "$pkg"); do
    if [ -f "$cache/$pkg-$ver/.done" ] && [ "$(readlink "$cache/$pkg")" = "$cache/$pkg-$ver" ]; then
      return 0
    fi
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
    quietly dpkg-source -x ./*.dsc src
    quietly cmake -S src -B build -G Ninja -Wno-dev \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
    quietly cmake --build build
    quietly cmake --install build
    touch "$prefix/.done"
    ln -sfn "$prefix" "$cache/$pkg"
  )
  rm -rf "$work"
}

# The cross-built libraries: architecture, source package, CMake options.
# i686 is what ships; x86_64 runs the tests where 32-bit processes cannot run.
LIBJPEG_OPTIONS=(-DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF -DWITH_SIMD=ON
  -DREQUIRE_SIMD=ON)
LIBPNG_OPTIONS=(-DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF)
ARCHES=(i686 x86_64)

machine_ready() {
  local arch
  has_i386 && has_deb_src || return 1
  [ -z "$(missing_packages)" ] || return 1
  for arch in "${ARCHES[@]}"; do
    source_package_ready "$arch" libjpeg-turbo && source_package_ready "$arch" libpng1.6 || return 1
  done
}

main() {
  if machine_ready; then
    return
  fi
  need_root
  APT_DIRTY=0
  ensure_i386
  ensure_deb_src
  ensure_packages
  ROOT="$(cd "$(dirname "$0")/.." && pwd)"
  local arch
  for arch in "${ARCHES[@]}"; do
    build_source_package "$arch" libjpeg-turbo "${LIBJPEG_OPTIONS[@]}"
    build_source_package "$arch" libpng1.6 "${LIBPNG_OPTIONS[@]}"
  done
}

main "$@"
