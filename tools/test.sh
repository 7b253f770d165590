#!/usr/bin/env bash
# The test command: prepares the machine, builds everything and runs every
# test, unit and end-to-end. Extra arguments go to ctest (for example -R http).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/bootstrap.sh

# The Windows-free core and its tests on the host first, with AddressSanitizer
# and UndefinedBehaviorSanitizer: seconds, and a broken rule shows up at once.
cmake -S tests/native -B build-native -G Ninja >/dev/null
cmake --build build-native
ctest --test-dir build-native --output-on-failure
# shellcheck source=wine-session.sh
source tools/wine-session.sh

# shellcheck source=build-runnable.sh
source tools/build-runnable.sh
build_runnable
trap wine_session_end EXIT
wine_session_begin "$BUILD_DIR"
ctest --preset "$PRESET" "$@"
