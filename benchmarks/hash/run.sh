#!/usr/bin/env bash
# Git blob hashing of a 1 GiB file set (64 files of 16 MiB), beside
# git hash-object on the same files; both read from a warm page cache.
set -euo pipefail
# shellcheck source=../encode-png/setup.sh
source "$(dirname "$0")/../encode-png/setup.sh"
bench_setup
mkdir "$WORK/files"
for i in $(seq -w 1 64); do head -c 16777216 /dev/urandom > "$WORK/files/f$i.bin"; done
files=("$WORK"/files/*.bin)
win_files=()
for f in "${files[@]}"; do win_files+=("$(bench_win "$f")"); done
cat "${files[@]}" > /dev/null
bench_run OURS sh -c '"$0" "$@" > "'"$WORK"'/ours.txt"' "$BUILD_DIR/wine-run" "$TOOL" hash "${win_files[@]}"
cat "${files[@]}" > /dev/null
bench_run REF sh -c 'git hash-object "$@" > "'"$WORK"'/ref.txt"' git "${files[@]}"
if ! diff <(tr -d '\r' < "$WORK/ours.txt") "$WORK/ref.txt" >/dev/null; then
  echo "hash: our hashes differ from git's" >&2
  exit 1
fi
echo "64 files, 1 GiB: ours ${OURS_SECONDS} s, git hash-object ${REF_SECONDS} s, same hashes"
echo "hash: ours ${OURS_SECONDS} s, reference ${REF_SECONDS} s, ratio $(ratio "$OURS_SECONDS" "$REF_SECONDS")"
