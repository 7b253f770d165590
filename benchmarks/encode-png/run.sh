#!/usr/bin/env bash
# Encoding a full 16000 x 16000 raw canvas as the map's PNG (8-bit RGB, zlib
# level 7, filter Sub on every row), beside netpbm's pnmtopng with the same
# settings on the same pixels. Ours is the encoding alone (the start of Wine is
# printed apart). Peak: the Wine process's largest resident size.
set -euo pipefail
# shellcheck source=setup.sh
source "$(dirname "$0")/setup.sh"
command -v pnmtopng >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends netpbm >&2
bench_setup
bench_make_canvas
bench_run OURS "$BUILD_DIR/wine-run" "$TOOL" encode-canvas png "$(bench_win "$WORK/canvas.raw")" 16000 16000 \
  "$(bench_win "$WORK/ours.png")" > "$WORK/ours.out"
bench_run REF sh -c "pnmtopng -force -compression 7 -sub < '$WORK/canvas.ppm' > '$WORK/ref.png'"
pngcheck -q "$WORK/ours.png" >&2
# The encoder's own time, without the start of Wine (printed beside it).
OURS_ENCODE=$(awk '/^encode-seconds/ { print $2 }' "$WORK/ours.out")
own_peak=$(awk '/^peak-memory-bytes/ { printf "%.1f", $2 / 1048576 }' "$WORK/ours.out")
echo "ours: $(stat -c %s "$WORK/ours.png") bytes, encoding ${OURS_ENCODE} s (whole process under Wine ${OURS_SECONDS} s), resident peak ${OURS_RSS_MIB} MiB, process's own peak commit ${own_peak} MiB"
echo "pnmtopng: $(stat -c %s "$WORK/ref.png") bytes, ${REF_SECONDS} s, resident peak ${REF_RSS_MIB} MiB"
echo "encode-png: ours ${OURS_ENCODE} s, reference ${REF_SECONDS} s, ratio $(ratio "$OURS_ENCODE" "$REF_SECONDS"), peak ${OURS_RSS_MIB} MiB"
