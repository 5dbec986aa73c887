# Sourced by the Windows scripts that run programs under Wine: the Wine
# settings, the Wine prefix made once, and a private X display.

export WINEPREFIX=${KALDORIA_WINEPREFIX:-${KALDORIA_WINDOWS_CACHE:-$HOME/.cache/kaldoria-windows}/wineprefix}
export WINEDEBUG=-all WINEARCH=win64

# Makes the Wine prefix on first use (about 20 s). Several scripts may share
# it, so it is made under a lock, and nothing waits for Wine's server to end:
# another script's programs may be keeping it up.
ensure_wine_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 8
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine: making the Wine prefix $WINEPREFIX"
      env -u DISPLAY wine wineboot -i >/dev/null 2>&1
    fi
  ) 8>"$WINEPREFIX.lock"
}

# Starts an Xvfb display of our own (Xvfb picks a free number and writes it
# to fd 3) and exports DISPLAY; stop_private_display ends it.
xvfb_pid=""
start_private_display() {
  local file; file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$file" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$file" ] && break; sleep 0.1; done
  [ -s "$file" ] || { rm -f "$file"; echo "wine: Xvfb did not start" >&2; return 1; }
  DISPLAY=":$(head -n1 "$file")"
  export DISPLAY
  rm -f "$file"
}
stop_private_display() {
  [ -n "$xvfb_pid" ] || return 0
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
}
