# Sourced by the test and demo commands: a display (Xvfb when there is none),
# the build's own Wine prefix, created once, and a persistent wineserver.
# wine_session_begin BUILD_DIR; everything it starts ends with wine_session_end.
XVFB_PID=

# 32-bit processes need a kernel (and sandbox) that runs i386 code; some do not.
can_run_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

wine_session_begin() {
  local build_dir=$1
  export WINEPREFIX="$build_dir/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export LAUNCHER_BUILD_DIR="$build_dir"
  case "$build_dir" in
    *-x64) export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 ;;
    *) export WINEARCH=win32 WINELOADER=/usr/lib/wine/wine ;;
  esac
  if [ -z "${DISPLAY:-}" ]; then
    local n
    for n in $(seq 90 120); do
      [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || break
    done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
  fi
  if [ ! -f "$WINEPREFIX/.launcher-ready" ]; then
    echo "Creating the Wine prefix $WINEPREFIX (first time only)" >&2
    mkdir -p "$WINEPREFIX"
    "$WINELOADER" wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    # Documents must be a real folder inside the prefix so that logs stay there.
    local docs="$WINEPREFIX/drive_c/users/$(id -un)/Documents"
    if [ -L "$docs" ]; then rm -f "$docs"; fi
    mkdir -p "$docs"
    touch "$WINEPREFIX/.launcher-ready"
  fi
  wineserver -p >/dev/null 2>&1 || true
  # Start the prefix's background services now, detached from the test
  # runner's output: a service inheriting ctest's pipe would keep it waiting.
  "$WINELOADER" wineboot >/dev/null 2>&1 </dev/null || true
}

wine_session_end() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; fi
}
