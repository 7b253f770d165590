#!/usr/bin/env bash
# The demo command: prepares the machine, builds Launcher.exe, generates the
# sample game repository, starts the repository service stand-in over it and
# runs the launcher against it under Wine. With a display the window opens;
# without one it runs under Xvfb, and the screenshots and a short report of
# what the window showed and what the service saw go to the printed folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/bootstrap.sh
# shellcheck source=wine-session.sh
source tools/wine-session.sh
# shellcheck source=build-runnable.sh
source tools/build-runnable.sh
build_runnable
build_dir=$BUILD_DIR
had_display=${DISPLAY:-}
trap wine_session_end EXIT
wine_session_begin "$build_dir"
out_dir=$build_dir/demo-output
rm -rf "$out_dir"
mode=()
[ -n "$had_display" ] && mode=(--interactive)
mkdir -p "$out_dir"
/usr/bin/python3 tools/demo_run.py "$build_dir" "$out_dir" "${mode[@]}" | tee "$out_dir/report.txt"
echo "demo: output in $out_dir"
