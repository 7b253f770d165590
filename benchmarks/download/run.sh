#!/usr/bin/env bash
# Download benchmark: the same set of files (200 of 1 MiB, 2000 of 4 KiB) from a
# loopback server, through THTTPClient (tools/httpbench, 21 asynchronous
# exchanges at a time, under Wine), through plain WinHTTP with no project code
# (tools/httpfloor, 21 threads, under the same Wine: the floor) and with curl,
# all at the same parallelism in the same run.
# Environment: BUILD_DIR (an x86_64 build folder; default build-x64),
# LARGE_FILES, SMALL_FILES, PARALLEL.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$repo/build-x64}
large=${LARGE_FILES:-200}
small=${SMALL_FILES:-2000}
parallel=${PARALLEL:-21}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$repo" -B "$build" -G Ninja --toolchain "$repo/cmake/toolchain-mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" -j2 httpbench httpfloor >/dev/null

work=$(mktemp -d /tmp/download-bench.XXXXXX)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/files" "$work/ours" "$work/floor" "$work/curl"
python3 - "$work/files" "$large" "$small" <<'PY'
import os, sys
folder, large, small = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for prefix, count, size in (("large", large, 1 << 20), ("small", small, 4096)):
    for i in range(1, count + 1):
        with open(os.path.join(folder, f"{prefix}{i}"), "wb") as f:
            f.write(os.urandom(size))
PY
names=$(cd "$work/files" && ls)
total=$(cat "$work"/files/* | wc -c)

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
(cd "$work/files" && exec python3 -m http.server --bind 127.0.0.1 "$port" >/dev/null 2>&1) &
server_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" && break
  sleep 0.1
done

# Our side: the program measures its own download time (Wine's start-up is not counted).
winpath() { echo "Z:$1" | tr / '\\'; }
for n in $names; do printf 'http://127.0.0.1:%s/%s\t%s\n' "$port" "$n" "$(winpath "$work/ours/$n")"; done >"$work/list.txt"
source "$repo/tools/wine-session.sh"
wine_session_begin "$build" >/dev/null 2>&1
trap 'wine_session_end; cleanup' EXIT
read -r ours_s ours_bytes < <("$build/wine-run" "$build/tools/httpbench.exe" "$(winpath "$work/list.txt")" "$parallel" | tr -d '\r')
[ -n "${ours_s:-}" ] || { echo "download: httpbench failed" >&2; exit 1; }

# The floor: plain WinHTTP under the same Wine, timed the same way.
for n in $names; do printf 'http://127.0.0.1:%s/%s\t%s\n' "$port" "$n" "$(winpath "$work/floor/$n")"; done >"$work/floor.txt"
read -r floor_s floor_bytes < <("$build/wine-run" "$build/tools/httpfloor.exe" "$(winpath "$work/floor.txt")" "$parallel" | tr -d '\r')
[ -n "${floor_s:-}" ] || { echo "download: httpfloor failed" >&2; exit 1; }

# Beside them: curl with the same parallelism.
for n in $names; do printf 'url = "http://127.0.0.1:%s/%s"\noutput = "%s"\n' "$port" "$n" "$work/curl/$n"; done >"$work/curl.cfg"
start=$(date +%s.%N)
curl --silent --show-error --no-progress-meter --fail --parallel --parallel-max "$parallel" -K "$work/curl.cfg"
stop=$(date +%s.%N)
ref_s=$(echo "$stop - $start" | bc -l)

# Both sides must have fetched every file intact.
diff -rq "$work/files" "$work/ours" >/dev/null || { echo "download: our copies differ from the originals" >&2; exit 1; }
diff -rq "$work/files" "$work/floor" >/dev/null || { echo "download: the floor's copies differ from the originals" >&2; exit 1; }
diff -rq "$work/files" "$work/curl" >/dev/null || { echo "download: curl's copies differ from the originals" >&2; exit 1; }

count=$((large + small))
echo "files: $count ($large of 1 MiB, $small of 4 KiB), $total bytes, $parallel at a time"
printf 'ours (THTTPClient under Wine):        %.3f s, %s bytes\n' "$ours_s" "$ours_bytes"
printf 'floor (plain WinHTTP under Wine):     %.3f s, %s bytes\n' "$floor_s" "$floor_bytes"
printf 'curl --parallel (no Wine):            %.3f s\n' "$ref_s"
printf 'download: ours %.3f s, floor %.3f s, ratio %.2f (curl %.3f s)\n' "$ours_s" "$floor_s" \
  "$(echo "$ours_s / $floor_s" | bc -l)" "$ref_s"
