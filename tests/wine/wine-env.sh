# Sourced by the Wine suites: the Wine loader and prefix for a build.
#   wine_env_for <an .exe of the build> <prefix folder>
# sets WINE (the loader to run programs with), WINEARCH, WINEPREFIX and
# WINEDEBUG. A 32-bit build runs with `wine`; a 64-bit one (PE32+), built for
# a machine whose kernel cannot run 32-bit programs, with Wine's 64-bit
# loader in a 64-bit prefix.
#   winpath <unix path>   prints the Windows form of the path
wine_env_for() {
  local exe=$1
  export WINEPREFIX=$2
  export WINEDEBUG=${WINEDEBUG:--all}
  if file -b "$exe" | grep -q '^PE32+'; then
    export WINEARCH=win64
    WINE=/usr/lib/wine/wine64
    export WINELOADER=$WINE
  else
    export WINEARCH=win32
    WINE=wine
  fi
}

winpath() { $WINE winepath -w "$1" 2>/dev/null | tr -d '\r'; }

# pe_xp_problems EXE GUI|console: prints what Windows XP would refuse in EXE
# (not a PE32 program of that subsystem for Intel 80386, an import XP lacks,
# a subsystem version above 5.1); prints nothing when the program is clean.
pe_xp_problems() {
  local exe=$1 subsystem=$2 kind dump banned major minor
  [ -f "$exe" ] || { echo "$exe was not built"; return; }
  kind=$(file -b "$exe")
  case "$kind" in
    "PE32 executable ($subsystem) Intel 80386"*) ;;
    *) echo "file says: $kind"; return ;;
  esac
  dump=$(i686-w64-mingw32-objdump -p "$exe")
  banned=$(echo "$dump" | grep -oE '\b(GetTickCount64|InitializeConditionVariable|SleepConditionVariable[A-Za-z]*|WakeConditionVariable|WakeAllConditionVariable|[A-Za-z]*SRWLock[A-Za-z]*|InitOnce[A-Za-z]*|GetFileInformationByHandleEx|CreateSymbolicLink[A-Za-z]*)\b' | sort -u | tr '\n' ' ')
  [ -z "$banned" ] || { echo "imports $banned"; return; }
  major=$(echo "$dump" | awk '/^MajorSubsystemVersion/ {print $2}')
  minor=$(echo "$dump" | awk '/^MinorSubsystemVersion/ {print $2}')
  if [ -z "$major" ] || [ "$major" -gt 5 ] || { [ "$major" -eq 5 ] && [ "$minor" -gt 1 ]; }; then
    echo "subsystem version $major.$minor"
  fi
}

# locale_installed de_DE.UTF-8: the locale is generated (locale -a lists it as de_DE.utf8).
locale_installed() { locale -a 2>/dev/null | grep -qix "${1%%.*}.utf8"; }

# wine_reg_add KEY [reg add options...]: `reg add ... /f` with $WINE (wine when
# unset). On failure it prints the exit code and what reg.exe wrote (it
# writes its errors to its output), and returns non-zero: a set-up step that
# fails says why. The output goes to a file, not a pipe: the first Wine
# program of a session starts Wine's services, which inherit its output and
# would hold a pipe open for as long as they run.
wine_reg_add() {
  local out rc=0
  out=$(mktemp)
  ${WINE:-wine} reg add "$@" /f >"$out" 2>&1 || rc=$?
  [ "$rc" -eq 0 ] || echo "wine reg add $* (exit $rc: $(tr -d '\r' <"$out" | tr '\n' ' '))"
  rm -f "$out"
  return "$rc"
}

# wine_server_wait [seconds]: waits until the prefix's wineserver has ended
# (every program of the prefix ended), at most 60 s. On timeout it prints the
# programs still running and returns non-zero: a program left running fails
# the step instead of hanging the suite.
wine_server_wait() {
  local limit=${1:-60} pid running=""
  timeout "$limit" wineserver -w && return 0
  for pid in $(wine_prefix_pids); do running+=" $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"; done
  echo "Wine is still running after $limit s:$running"
  return 1
}

# wine_prefix_pids: the Windows programs (and Wine's device hosts) running in
# $WINEPREFIX, found by their environment: they stay findable after their
# wineserver has gone.
wine_prefix_pids() {
  local pid
  for pid in $(pgrep -f 'winedevice|\.exe' 2>/dev/null); do
    if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qx "WINEPREFIX=$WINEPREFIX"; then echo "$pid"; fi
  done
}

# wine_kill_orphans: kills the prefix's Wine programs that outlived their
# wineserver (after it crashed, `wineserver -k` no longer reaches them).
wine_kill_orphans() {
  local pid
  for pid in $(wine_prefix_pids); do kill -9 "$pid" 2>/dev/null; done
}

# wine_system_folder <a .dll or .exe>: the prefix's system folder for that
# program's kind, where GetSystemDirectory points it: system32, or syswow64
# for a 32-bit program in a 64-bit prefix.
wine_system_folder() {
  local windows="$WINEPREFIX/drive_c/windows"
  if [ -d "$windows/syswow64" ] && ! file -b "$1" | grep -q '^PE32+'; then
    echo "$windows/syswow64"
  else
    echo "$windows/system32"
  fi
}

# wine_install_rapi <rapi.dll>: the stand-in goes where ActiveSync and
# Windows Mobile Device Center install the real library, the system folder:
# romwiz.exe loads it from there and from nowhere else.
wine_install_rapi() { cp "$1" "$(wine_system_folder "$1")/rapi.dll"; }
# wine_remove_rapi <rapi.dll>: the prefix without a remote-API library.
wine_remove_rapi() { rm -f "$(wine_system_folder "$1")/rapi.dll"; }

# rapi_breach_log <file>: the strict stand-in records every breach of the
# remote API's contract in <file> (ROMWIZ_RAPI_BREACH_LOG, in Windows form);
# the file starts empty.
rapi_breach_log() {
  : >"$1"
  export ROMWIZ_RAPI_BREACH_LOG
  ROMWIZ_RAPI_BREACH_LOG=$(${WINE:-wine} winepath -w "$1" 2>/dev/null | tr -d '\r')
  [ -n "$ROMWIZ_RAPI_BREACH_LOG" ] || ROMWIZ_RAPI_BREACH_LOG="Z:$(printf '%s' "$1" | tr / '\\')"
}

# rapi_no_breach <file>: true when the stand-in recorded no breach; otherwise
# prints the breaches on one line and fails.
rapi_no_breach() {
  [ ! -s "$1" ] && return 0
  tr -d '\r' <"$1" | paste -sd ';' -
  return 1
}
