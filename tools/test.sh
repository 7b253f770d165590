#!/usr/bin/env bash
# The test command: prepares the machine, builds everything and runs every
# test, unit and end-to-end. Extra arguments go to ctest (for example -R http).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/bootstrap.sh
# shellcheck source=wine-session.sh
source tools/wine-session.sh

# The shipped 32-bit build is always built and checked. Tests run on it where
# this machine can run 32-bit processes, otherwise on the 64-bit build of the
# same sources (then only Launcher.exe and its libraries are built for 32 bits).
cmake --preset default >/dev/null
preset=default
if can_run_32bit; then
  cmake --build --preset default
else
  echo "test: this machine cannot run 32-bit processes; testing the 64-bit build" >&2
  preset=x64
  cmake --build --preset default --target Launcher
fi
tools/check-exe.sh build/Launcher.exe
if [ "$preset" = x64 ]; then
  cmake --preset x64 >/dev/null
  cmake --build --preset x64
fi
build_dir=build; [ "$preset" = x64 ] && build_dir=build-x64
trap wine_session_end EXIT
wine_session_begin "$root/$build_dir"
ctest --preset "$preset" "$@"
