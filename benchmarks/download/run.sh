#!/usr/bin/env bash
# Download benchmark: the same set of files (200 of 1 MiB, 2000 of 4 KiB) from a
# loopback server, through THTTPClient (tools/httpbench, 21 asynchronous
# exchanges at a time, under Wine), through plain WinHTTP with no project code
# (tools/httpfloor, 21 threads, under the same Wine: the floor) and with curl,
# all at the same parallelism in the same run. Beside them, for the profile:
# the same plain program on one asynchronous WinHTTP session ("httpfloor
# async"), which tells what Wine's asynchronous mode costs from what our client
# adds to it.
# Environment: BUILD_DIR (an x86_64 build folder; default build-x64),
# LARGE_FILES, SMALL_FILES, PARALLEL, REPEAT (rounds, default 5; the figures are
# the medians).
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$repo/build-x64}
large=${LARGE_FILES:-200}
small=${SMALL_FILES:-2000}
parallel=${PARALLEL:-21}
repeat=${REPEAT:-5}

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

mkdir -p "$work/files" "$work/curl"
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

# Our side and the floor, each timed by the program itself (Wine's start-up is
# not counted), in alternating order over REPEAT rounds: one machine-wide
# hiccup then moves one round, not the figure, which is the median.
winpath() { echo "Z:$1" | tr / '\\'; }
for side in ours floor async; do
  for n in $names; do printf 'http://127.0.0.1:%s/%s\t%s\n' "$port" "$n" "$(winpath "$work/$side/$n")"; done >"$work/$side.txt"
done
source "$repo/tools/wine-session.sh"
wine_session_begin "$build" >/dev/null 2>&1
trap 'wine_session_end; cleanup' EXIT
program() { case $1 in ours) echo httpbench ;; *) echo httpfloor ;; esac; }
fetch() {  # SIDE: prints "seconds bytes" after checking every copy
  local side=$1 seconds bytes
  rm -rf "${work:?}/$side" && mkdir "$work/$side"
  local mode=; [ "$side" = async ] && mode=async
  read -r seconds bytes < <("$build/wine-run" "$build/tools/$(program "$side").exe" "$(winpath "$work/$side.txt")" \
    "$parallel" $mode | tr -d '\r') || true
  [ -n "${seconds:-}" ] || { echo "download: $(program "$side") failed" >&2; exit 1; }
  diff -rq "$work/files" "$work/$side" >/dev/null || { echo "download: $side copies differ from the originals" >&2; exit 1; }
  echo "$seconds $bytes"
}
: >"$work/rounds.txt"
for round in $(seq "$repeat"); do
  case $((round % 3)) in
    1) order="ours floor async" ;;
    2) order="floor async ours" ;;
    0) order="async ours floor" ;;
  esac
  for side in $order; do
    read -r seconds bytes < <(fetch "$side")
    echo "$round $side $seconds $bytes" >>"$work/rounds.txt"
  done
done

# Beside them: curl with the same parallelism.
for n in $names; do printf 'url = "http://127.0.0.1:%s/%s"\noutput = "%s"\n' "$port" "$n" "$work/curl/$n"; done >"$work/curl.cfg"
start=$(date +%s.%N)
curl --silent --show-error --no-progress-meter --fail --parallel --parallel-max "$parallel" -K "$work/curl.cfg"
stop=$(date +%s.%N)
ref_s=$(echo "$stop - $start" | bc -l)

# curl must have fetched every file intact too.
diff -rq "$work/files" "$work/curl" >/dev/null || { echo "download: curl's copies differ from the originals" >&2; exit 1; }

count=$((large + small))
echo "files: $count ($large of 1 MiB, $small of 4 KiB), $total bytes, $parallel at a time, $repeat rounds"
python3 - "$work/rounds.txt" "$ref_s" <<'PY'
import statistics, sys
rounds = {}
for line in open(sys.argv[1]):
    number, side, seconds, _ = line.split()
    rounds.setdefault(int(number), {})[side] = float(seconds)
for number, sides in sorted(rounds.items()):
    print(f"round {number}: ours {sides['ours']:.3f} s, floor {sides['floor']:.3f} s, ratio "
          f"{sides['ours'] / sides['floor']:.2f}; plain asynchronous {sides['async']:.3f} s")
ours = statistics.median(s["ours"] for s in rounds.values())
floor = statistics.median(s["floor"] for s in rounds.values())
plain_async = statistics.median(s["async"] for s in rounds.values())
curl = float(sys.argv[2])
print(f"ours (THTTPClient under Wine), median:                  {ours:.3f} s")
print(f"floor (plain WinHTTP under Wine), median:               {floor:.3f} s")
print(f"plain asynchronous WinHTTP under Wine, median:          {plain_async:.3f} s "
      f"(ours / it {ours / plain_async:.2f})")
print(f"curl --parallel (no Wine), one run:                     {curl:.3f} s")
print(f"download: ours {ours:.3f} s, floor {floor:.3f} s, ratio {ours / floor:.2f} (curl {curl:.3f} s)")
PY
