# Sourced by the test and demo commands. build_runnable builds the shipped
# 32-bit Launcher.exe (and checks it) and the build this machine can run: the
# 32-bit one where 32-bit processes run, otherwise the 64-bit build of the same
# sources (then only Launcher.exe and its libraries are built for 32 bits).
# It sets PRESET and BUILD_DIR.
build_runnable() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  cmake --preset default >/dev/null
  if can_run_32bit; then
    PRESET=default
    cmake --build --preset default
  else
    echo "this machine cannot run 32-bit processes: using the 64-bit build" >&2
    PRESET=x64
    cmake --build --preset default --target Launcher
  fi
  "$root/tools/check-exe.sh" "$root/build/Launcher.exe"
  BUILD_DIR=$root/build
  if [ "$PRESET" = x64 ]; then
    cmake --preset x64 >/dev/null
    cmake --build --preset x64
    BUILD_DIR=$root/build-x64
  fi
}
