# Sourced by the Wine suites: a headless X server and a Wine server for the
# prefix, started once and stopped with everything they ran.
#   wine_session_start <log folder>   sets DISPLAY; returns non-zero on failure
#                                     (the display is the first free one from
#                                     WINE_SESSION_FIRST_DISPLAY, 91 by default)
#   wine_session_stop                 ends the prefix's Wine processes and the X server
# Needs WINE and WINEPREFIX, and wine-env.sh sourced first.
wine_session_xvfb=""

wine_session_start() {
  local logs=$1 display="" n
  wineserver -k >/dev/null 2>&1
  for n in $(seq "${WINE_SESSION_FIRST_DISPLAY:-91}" 240); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
  done
  [ -n "$display" ] || { echo "FAIL: no free X display" >&2; return 1; }
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$logs/xvfb.log" 2>&1 &
  wine_session_xvfb=$!
  export DISPLAY="$display"
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  [ -e "/tmp/.X11-unix/X${display#:}" ] || { echo "FAIL: Xvfb did not start" >&2; return 1; }
  # Ours, not one that another suite started on the same display a moment earlier.
  kill -0 "$wine_session_xvfb" 2>/dev/null || { echo "FAIL: Xvfb on $display ended (taken?)" >&2; return 1; }
  $WINE wineboot -i >"$logs/wineboot.log" 2>&1
  wineserver -w
  return 0
}

wine_session_stop() {
  wineserver -k >/dev/null 2>&1
  wine_kill_orphans
  if [ -n "$wine_session_xvfb" ]; then
    kill "$wine_session_xvfb" 2>/dev/null
    wait "$wine_session_xvfb" 2>/dev/null
    wine_session_xvfb=""
  fi
}
