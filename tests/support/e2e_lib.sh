# Shared by the end-to-end scripts (tests/e2e-identify, tests/e2e-upgrade,
# tests/e2e-resume, tests/e2e-backup) and scripts/fault-matrix: a scratch
# handheld and distribution, the handheld-sim daemon, the terminal romwiz fed
# through a fifo, and the checks on what it showed and what the handheld holds
# afterwards. Source it after setting
#   ROMWIZ, SIM       the programs (absolute paths)
#   TIME_SCALE        ROMWIZ_TIME_SCALE of every romwiz run
#   WAIT_SECONDS      the longest real wait for a screen or a state
# `fail` ends the script (or the subshell it runs in) with the outputs that
# tell why.

# ROMWIZ_E2E_TIME_SCALE only ever makes the waits gentler than the script's
# own TIME_SCALE (the sanitized build is slower).
if [ "${ROMWIZ_E2E_TIME_SCALE:-$TIME_SCALE}" -lt "$TIME_SCALE" ]; then TIME_SCALE=$ROMWIZ_E2E_TIME_SCALE; fi

PAYLOAD_FROM=$((0x40000))
BOOT_BLOCK=$((0x40000))
HEADER=32

T=""
DAEMON_DIR=""
ROMWIZ_PID=""
PORT=""

cleanup() {
  exec 7>&- 2>/dev/null
  if [ -n "$ROMWIZ_PID" ] && kill -0 "$ROMWIZ_PID" 2>/dev/null; then
    kill "$ROMWIZ_PID" 2>/dev/null
    wait "$ROMWIZ_PID" 2>/dev/null
  fi
  ROMWIZ_PID=""
  if [ -n "$DAEMON_DIR" ] && [ -f "$DAEMON_DIR/daemon.pid" ]; then
    "$SIM" stop "$DAEMON_DIR" >/dev/null 2>&1
  fi
  DAEMON_DIR=""
  if [ -n "$T" ]; then rm -rf "$T"; fi
  T=""
}

fail() {
  echo "FAIL: $*" >&2
  if [ -n "$T" ] && [ -f "$T/out" ]; then
    echo "--- romwiz output ---" >&2
    tr '\r' '\n' <"$T/out" >&2
    echo "--- romwiz errors ---" >&2
    cat "$T/err" >&2
  fi
  if [ -n "$T" ] && [ -f "$T/handheld/state.txt" ]; then
    echo "--- handheld state ---" >&2
    cat "$T/handheld/state.txt" >&2
  fi
  local log
  for log in "$T/daemon.log" "$T/state/romwiz/transfer.log" "$T/handheld/link.log"; do
    [ -n "$T" ] && [ -s "$log" ] && { echo "--- $log ---" >&2; cat "$log" >&2; }
  done
  exit 1
}

# A handheld at 1.14, a distribution at 1.41 (2 MB), and a registry store
# saying ActiveSync 3.5 on COM1 with no resume record.
setup() {
  T=$(mktemp -d "${TMPDIR:-/tmp}/romwiz-e2e.XXXXXX")
  mkdir -p "$T/config/romwiz/dosdevices" "$T/state"
  "$SIM" create "$T/handheld" --version 1.14.00 >/dev/null || fail "cannot create the handheld"
  "$SIM" distribution "$T/dist" --version 1.41.00 --size-mb 2 >/dev/null || fail "cannot write the distribution"
  IMAGE="$T/dist/English/LUMO5800_ENG_141.nbf"
  [ -f "$IMAGE" ] || fail "no image in the distribution"
  head -c $BOOT_BLOCK "$T/handheld/flash.bin" >"$T/boot-block.before"
  activesync_registry >"$T/config/romwiz/registry.reg"
}

# The PC's registry store as far as ActiveSync 3.5 goes, its serial port COM1.
activesync_registry() {
  printf 'REGEDIT4\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows CE Services]\r\n'
  printf '"MajorVersion"=dword:00000003\r\n"MinorVersion"=dword:00000005\r\n"SerialPort"="COM1"\r\n'
}

record_present() { grep -qi 'Software\\Veltrom' "$T/config/romwiz/registry.reg"; }
record_critical() { record_present && grep -qi '"Critical"=dword:00000001' "$T/config/romwiz/registry.reg"; }

# Serves the handheld on a free port (tried at random, a few times), with
# the serve options given. The daemon shares romwiz's XDG_CONFIG_HOME, so
# its link peers appear in the dosdevices folder romwiz looks in.
start_daemon() {
  for _ in 1 2 3 4 5 6 7 8; do
    PORT=$((20000 + RANDOM % 30000))
    if env XDG_CONFIG_HOME="$T/config" "$SIM" serve "$T/handheld" --port "$PORT" --daemon "$@" \
        >/dev/null 2>>"$T/daemon.log"; then
      DAEMON_DIR="$T/handheld"
      return 0
    fi
  done
  fail "the daemon did not start"
}

# Starts romwiz in the distribution folder; answers go in with `say`. The
# output of an earlier run is kept as out.before. Stopping ActiveSync runs a
# command that notes the window it was asked to stop.
start_romwiz() {
  rm -f "$T/in"
  [ -f "$T/out" ] && mv "$T/out" "$T/out.before"
  mkfifo "$T/in"
  (cd "$T/dist" && exec env XDG_CONFIG_HOME="$T/config" XDG_STATE_HOME="$T/state" \
    ROMWIZ_HANDHELD="127.0.0.1:${PORT:-1}" ROMWIZ_TIME_SCALE=$TIME_SCALE \
    ROMWIZ_ACTIVESYNC_STOP="echo \"\$1\" >>'$T/activesync-stops'" "$ROMWIZ") <"$T/in" >"$T/out" 2>"$T/err" &
  ROMWIZ_PID=$!
  exec 7>"$T/in"
}

say() { printf '%s\n' "$1" >&7; }

# The introductory screens, then the link $1 (default serial) on the connection screen.
introduce() {
  for screen in 166 103 121 161; do
    wait_screen $screen
    say next
  done
  wait_screen 158
  say "${1:-serial}"
  say next
}

shown() { tr '\r' '\n' <"$T/out" 2>/dev/null | grep -c "^\[screen $1\]$"; }

wait_screen() {
  local want=${2:-1} deadline=$((SECONDS + WAIT_SECONDS))
  while [ "$(shown "$1")" -lt "$want" ]; do
    [ $SECONDS -lt $deadline ] || fail "screen $1 did not appear"
    kill -0 "$ROMWIZ_PID" 2>/dev/null || { sleep 0.2; [ "$(shown "$1")" -ge "$want" ] && return 0; fail "romwiz ended before screen $1"; }
    sleep 0.05
  done
  sleep 0.1
}

# The text of the last showing of screen $1.
block() {
  tr '\r' '\n' <"$T/out" | awk -v head="[screen $1]" '$0 == head { text = ""; inside = 1 }
    /^\[screen / && $0 != head { inside = 0 } inside { text = text $0 "\n" } END { printf "%s", text }'
}

expect_in_block() {
  block "$1" | grep -qF -- "$2" || fail "screen $1 does not show \"$2\""
}

finish() {
  exec 7>&-
  local deadline=$((SECONDS + WAIT_SECONDS))
  while kill -0 "$ROMWIZ_PID" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || fail "romwiz did not end"
    sleep 0.05
  done
  wait "$ROMWIZ_PID"
  local code=$?
  ROMWIZ_PID=""
  [ $code -eq 0 ] || fail "romwiz exited with $code"
}

# Ends romwiz at once, as a crash or a killed process would.
kill_romwiz() {
  kill -KILL "$ROMWIZ_PID" 2>/dev/null
  wait "$ROMWIZ_PID" 2>/dev/null
  ROMWIZ_PID=""
  exec 7>&-
}

# Waits until the handheld's status shows a line that matches $1 whole (an
# extended regular expression; a plain key=value line matches itself).
wait_status() {
  local deadline=$((SECONDS + WAIT_SECONDS))
  until "$SIM" status "$T/handheld" | grep -qxE -- "$1"; do
    [ $SECONDS -lt $deadline ] || fail "the handheld's status never showed $1"
    sleep 0.02
  done
}

handheld_restarted() { wait_status mode=wince; }

# Waits for the daemon to publish the link $1 in romwiz's dosdevices folder.
wait_link() {
  local deadline=$((SECONDS + 10))
  until [ -e "$T/config/romwiz/dosdevices/$1" ]; do
    [ $SECONDS -lt $deadline ] || fail "the handheld published no $1 link"
    sleep 0.02
  done
}

# How many times a loader or boot loader of the handheld has started.
peer_sessions() {
  local count
  count=$(grep -c '^== ' "$T/handheld/link.log" 2>/dev/null)
  echo "${count:-0}"
}

# Resets the handheld ($1: "" or --bootloader) and, when it restarts into a
# loader or the boot loader, waits until that has started afresh.
reset_handheld() {
  local before mode deadline=$((SECONDS + WAIT_SECONDS))
  before=$(peer_sessions)
  "$SIM" reset "$T/handheld" ${1:+"$1"} >/dev/null || fail "cannot reset the handheld"
  mode=$("$SIM" status "$T/handheld" | sed -n 's/^mode=//p')
  [ "$mode" = loader ] || [ "$mode" = bootloader ] || return 0
  until [ "$(peer_sessions)" -gt "$before" ]; do
    [ $SECONDS -lt $deadline ] || fail "the handheld's $mode did not start again"
    sleep 0.02
  done
}

# flash.bin holds the image's payload from 0x40000 on (the boot block is
# never sent).
flash_holds_image() {
  local size=$(($(stat -c %s "$IMAGE") - HEADER))
  cmp -s <(tail -c +$((HEADER + PAYLOAD_FROM + 1)) "$IMAGE") \
         <(tail -c +$((PAYLOAD_FROM + 1)) "$T/handheld/flash.bin" | head -c $((size - PAYLOAD_FROM)))
}

# The flash after the transfer, the record, and what the handheld reports.
expect_flashed() {
  flash_holds_image || fail "flash.bin does not hold the image's payload from 0x40000 on"
  cmp -s "$T/boot-block.before" <(head -c $BOOT_BLOCK "$T/handheld/flash.bin") \
    || fail "the boot block changed"
  record_present && fail "the resume record is still there"
  "$SIM" status "$T/handheld" | grep -qx 'rom=LUMO-5800 1.41.00 ENG' || fail "the flash holds another ROM"
  "$SIM" status "$T/handheld" | grep -qx 'violations=0' ||
    fail "the handheld recorded violations: $("$SIM" status "$T/handheld" | grep '^violation')"
  # A fresh run identifies the handheld over the remote API: the new version.
  start_romwiz
  introduce
  wait_screen 109
  expect_in_block 109 "ROM Version : 1.41"
  say cancel
  finish
}

# --- the two logs -------------------------------------------------------------------

# The messages of session $2 (from 1) of log file $1, without the time column.
session_messages() {
  awk -v want="$2" '/^== / { n++ } n == want' "$1" |
    sed -n -E 's/^ *[0-9]+\.[0-9]{3}  ((pc>hh|hh>pc) .*)$/\1/p'
}

# Session $1 of the PC's transfer log and session $2 of the handheld's peer
# log hold the same messages in the same order, at least $3 of them. The
# PC's are left in $T/pc.messages.
expect_logs_agree() {
  local pc_log="$T/state/romwiz/transfer.log" peer_log="$T/handheld/link.log"
  [ -f "$pc_log" ] || fail "no transfer log at $pc_log"
  [ -f "$peer_log" ] || fail "no peer log at $peer_log"
  session_messages "$pc_log" "$1" >"$T/pc.messages"
  session_messages "$peer_log" "$2" >"$T/peer.messages"
  [ "$(wc -l <"$T/pc.messages")" -ge "$3" ] || fail "the transfer log holds fewer than $3 messages"
  diff -u "$T/pc.messages" "$T/peer.messages" >&2 || fail "the two logs disagree"
}

# Session $1 of the transfer log ends with the end state $2 (the blank line
# before a later session is not part of it).
expect_log_end() {
  awk -v want="$1" '/^== / { n++ } n == want && NF' "$T/state/romwiz/transfer.log" | tail -1 | grep -qF "end: $2" \
    || fail "the transfer log's session $1 does not end with \"$2\""
}
