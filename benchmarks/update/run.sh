#!/usr/bin/env bash
# Update benchmark: the real Launcher.exe under Wine, driven through its window,
# installs a generated repository of about 3,000 files and 300 MB with 8 maps
# from nothing through the repository service stand-in, then applies an
# incremental update (10 % of the files, two maps), then walks the installation
# without .last. Beside each run, the floor of the same work without overlap:
# plain WinHTTP (tools/httpfloor) fetching the same files, git hash-object over
# them and the reference encoders over the assembled map images. The last line:
#   update: ours X s, floor Y s, ratio X/Y, api N        (the fresh installation)
# Environment: UPDATE_SCALE (default 1; below 1 a smaller repository to try it out),
# UPDATE_REPEAT (fresh installations, default 3; the last line gives the medians).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
tools/bootstrap.sh >&2
# shellcheck source=../../tools/wine-session.sh
source tools/wine-session.sh
preset=default
build=$root/build
if ! can_run_32bit; then preset=x64; build=$root/build-x64; fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target Launcher uidriver VELDRA httpfloor >&2
work=$(mktemp -d /tmp/update-bench.XXXXXX)
trap 'wine_session_end; rm -rf "$work"' EXIT
wine_session_begin "$build"
python3 "$root/benchmarks/update/update_bench.py" "$build" "$work" --scale "${UPDATE_SCALE:-1}" --repeat "${UPDATE_REPEAT:-3}"
