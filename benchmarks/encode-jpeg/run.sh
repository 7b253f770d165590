#!/usr/bin/env bash
# Encoding a full 16000 x 16000 raw canvas as the map's JPEG (baseline, colour,
# quality 90), beside cjpeg -quality 90 on the same pixels. Ours is the encoding
# alone (the start of Wine is printed apart). Peak: the Wine
# process's largest resident size.
set -euo pipefail
# shellcheck source=../encode-png/setup.sh
source "$(dirname "$0")/../encode-png/setup.sh"
bench_setup
bench_make_canvas
bench_run OURS "$BUILD_DIR/wine-run" "$TOOL" encode-canvas jpg "$(bench_win "$WORK/canvas.raw")" 16000 16000 \
  "$(bench_win "$WORK/ours.jpg")" > "$WORK/ours.out"
bench_run REF cjpeg -quality 90 -outfile "$WORK/ref.jpg" "$WORK/canvas.ppm"
same=differ; cmp -s "$WORK/ours.jpg" "$WORK/ref.jpg" && same="identical to cjpeg's"
# The encoder's own time, without the start of Wine (printed beside it).
OURS_ENCODE=$(awk '/^encode-seconds/ { print $2 }' "$WORK/ours.out")
own_peak=$(awk '/^peak-memory-bytes/ { printf "%.1f", $2 / 1048576 }' "$WORK/ours.out")
echo "ours: $(stat -c %s "$WORK/ours.jpg") bytes ($same), encoding ${OURS_ENCODE} s (whole process under Wine ${OURS_SECONDS} s), resident peak ${OURS_RSS_MIB} MiB, process's own peak commit ${own_peak} MiB"
echo "cjpeg: $(stat -c %s "$WORK/ref.jpg") bytes, ${REF_SECONDS} s, resident peak ${REF_RSS_MIB} MiB"
echo "encode-jpeg: ours ${OURS_ENCODE} s, reference ${REF_SECONDS} s, ratio $(ratio "$OURS_ENCODE" "$REF_SECONDS"), peak ${OURS_RSS_MIB} MiB"
