#!/usr/bin/env bash
# Map update benchmark: an installed 16000 x 16000 PNG map (16 pieces of
# 4000 x 4000, grainy) whose one piece changes, updated by the real
# Launcher.exe under Wine through its window against the repository service
# stand-in. Beside it the floor: pngtopnm of the old image, then pnmtopng of
# the new one (level 7, filter Sub), one after the other. The last line:
#   map-update: ours X s, floor Y s, ratio X/Y, peak M MiB
# Ours is update_begin to update_end of the run; peak: the launcher's resident peak.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
tools/bootstrap.sh >&2
command -v pnmtopng >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends netpbm >&2
# shellcheck source=../../tools/wine-session.sh
source tools/wine-session.sh
preset=default
build=$root/build
if ! can_run_32bit; then preset=x64; build=$root/build-x64; fi
if [ -n "${LAUNCHER_BUILD_DIR:-}" ]; then
  build=$LAUNCHER_BUILD_DIR
  cmake --build "$build" --target Launcher uidriver VELDRA archivetool >&2
else
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target Launcher uidriver VELDRA archivetool >&2
fi
work=$(mktemp -d /tmp/map-update-bench.XXXXXX)
trap 'wine_session_end; rm -rf "$work"' EXIT
wine_session_begin "$build"
python3 "$root/benchmarks/map-update/map_update_bench.py" "$build" "$work"
