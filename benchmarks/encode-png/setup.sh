# Sourced by the archive benchmarks (encode-png, encode-jpeg, hash): builds
# archivetool for the architecture this machine runs, starts the build's Wine
# session and makes a scratch folder; everything ends with the shell.
#   bench_setup            sets ROOT, BUILD_DIR, TOOL, WORK
#   bench_run NAME CMD...  runs CMD, records NAME_SECONDS and NAME_RSS_MIB
#   bench_win PATH         the Windows name of a Linux path
#   bench_make_canvas      WORK/canvas.raw (16000 x 16000 raw canvas) and WORK/canvas.ppm
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

bench_setup() {
  cd "$ROOT"
  tools/bootstrap.sh >&2
  # shellcheck source=../../tools/wine-session.sh
  source tools/wine-session.sh
  local preset=default
  BUILD_DIR=$ROOT/build
  if ! can_run_32bit; then preset=x64; BUILD_DIR=$ROOT/build-x64; fi
  if [ -n "${LAUNCHER_BUILD_DIR:-}" ]; then
    BUILD_DIR=$LAUNCHER_BUILD_DIR
    cmake --build "$BUILD_DIR" --target archivetool >&2
  else
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target archivetool >&2
  fi
  TOOL=$BUILD_DIR/tools/archivetool.exe
  WORK=$(mktemp -d /tmp/archive-bench-XXXXXX)
  trap 'wine_session_end; rm -rf "$WORK"' EXIT
  wine_session_begin "$BUILD_DIR"
}

bench_win() { printf 'Z:%s' "${1//\//\\}"; }

bench_run() {
  local name=$1; shift
  /usr/bin/time -f '%e %M' -o "$WORK/$name.time" "$@"
  read -r seconds kib < "$WORK/$name.time"
  printf -v "${name}_SECONDS" '%s' "$seconds"
  printf -v "${name}_RSS_MIB" '%s' "$(awk -v k="$kib" 'BEGIN { printf "%.1f", k / 1024 }')"
}

bench_make_canvas() {
  echo "making a 16000 x 16000 canvas and the same pixels as PPM in $WORK" >&2
  "$BUILD_DIR/wine-run" "$TOOL" make-canvas "$(bench_win "$WORK/canvas.raw")" "$(bench_win "$WORK/canvas.ppm")"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
