# Shared settings for the build, test and demo scripts. Source it.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${UMBROLUX_BUILD_DIR:-$ROOT/build}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=${UMBROLUX_WINEPREFIX:-$BUILD/wineprefix}
WINE64=/usr/lib/wine/wine64
# The 64-bit server: the wrapper on the PATH may pick the 32-bit one, which
# cannot start where 32-bit programs cannot run.
export WINESERVER=/usr/lib/wine/wineserver64

WINE32=/usr/lib/wine/wine
WINE_SYMBOL_FONT=/usr/share/wine/fonts/marlett.ttf
. "$ROOT/scripts/i386.sh"

# Starts a private X server on a free display; sets DISPLAY and XVFB_PID.
start_xvfb() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    # Xvfb creates its socket once it accepts clients.
    local tries=0
    while [ ! -e "/tmp/.X11-unix/X$n" ] && kill -0 "$XVFB_PID" 2>/dev/null && [ $tries -lt 200 ]; do
      sleep 0.05; tries=$((tries + 1))
    done
    if [ -e "/tmp/.X11-unix/X$n" ]; then
      export DISPLAY=":$n"
      return 0
    fi
    kill "$XVFB_PID" 2>/dev/null || true
  done
  echo "cannot start Xvfb" >&2
  return 1
}

stop_xvfb() {
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
  fi
}

# True when the prefix has its 32-bit half: wineboot fills syswow64 only when
# it could run the 32-bit loader.
prefix_has_32bit_half() {
  [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]
}

# Creates the Wine prefix once, and keeps one wineserver for the whole run.
# A prefix made while 32-bit programs could not run lacks its 32-bit half
# for good; where they can run now, it is made afresh.
start_wine() {
  if [ -f "$WINEPREFIX/system.reg" ] && can_run_i386 && ! prefix_has_32bit_half; then
    echo "wine: the prefix $WINEPREFIX has no 32-bit half; making it afresh" >&2
    "$WINESERVER" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    WINEARCH=win64 "$WINE64" wineboot -i >/dev/null 2>&1 || true
  fi
  # Wine draws the caption's buttons with the glyphs of its own symbol font,
  # Marlett (fonts-wine, which setup.sh installs). Debian's Wine does not
  # load the fonts of its data folder, /usr/share/wine/fonts, only those of
  # the prefix's Fonts folder: without a copy there the close box shows the
  # letter "r".
  if [ -f "$WINE_SYMBOL_FONT" ] && [ -d "$WINEPREFIX/drive_c/windows" ] &&
     [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]; then
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp "$WINE_SYMBOL_FONT" "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf"
  fi
  # Wait for the server that wineboot started to go, then start one that
  # stays up between the many short test processes.
  "$WINESERVER" -w >/dev/null 2>&1 || true
  "$WINESERVER" -p >/dev/null 2>&1 || true
  # Without a window manager on the private X server, Wine waits two seconds
  # for every hidden managed window to be withdrawn; unmanaged windows need
  # no window manager at all. This first program also brings up Wine's
  # desktop process here, with its output going nowhere: started by a test,
  # it would inherit the test's output pipe and keep it open.
  "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true
}

stop_wine() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
}
