#!/usr/bin/env bash
# The Win32 link under Wine against the simulated handheld's loader peer, for
# the serial and the USB link: link_wine_probe.exe (windows-tests build) sends
# an image; handheld-peer (native build) must restart with it in its flash.
#   tests/port/wine_link_test.sh NATIVE_BUILD_DIR WINDOWS_TESTS_BUILD_DIR
# WINEPREFIX is used when set (its dosdevices folder receives the links);
# otherwise a temporary prefix is created.
set -euo pipefail
native=$(cd "$1" && pwd)
wintests=$(cd "$2" && pwd)
work=$(mktemp -d)
peer=""
server_started=0
cleanup() {
  if [ -n "$peer" ] && kill -0 "$peer" 2>/dev/null; then kill "$peer"; fi
  if [ "$server_started" = 1 ]; then wineserver -k >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$work/prefix}
[ -d "$WINEPREFIX/dosdevices" ] || wineboot -i >/dev/null 2>&1
# Wine's mount manager rewrites dosdevices/comN at every start (to
# /dev/ttyS{N-1}) unless HKLM\Software\Wine\Ports names the port's device: the
# serial peer is published in a folder of its own and COM1 pointed at it.
# Other names (wceusbsh001) are plain dosdevices links that Wine leaves alone.
links="$work/links"
mkdir -p "$links"
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$links/com1" /f >/dev/null 2>&1 ||
  { echo "wine link test: cannot point COM1 at $links/com1" >&2; exit 1; }
wineserver -w || true
# A server of our own for the runs below, quiet, ended by the cleanup.
# (A server of the suite before that is still ending refuses a second one;
# the next wine call then starts its own, which is as good.)
wineserver -p >/dev/null 2>&1 || true
server_started=1

for kind in serial usb; do
  link=com1
  folder="$links"
  if [ "$kind" = usb ]; then link=wceusbsh001; folder="$WINEPREFIX/dosdevices"; fi
  rm -f "$work/flash.bin" && truncate -s 1M "$work/flash.bin"
  "$native/sim/peers/handheld-peer" --kind "$kind" --flash "$work/flash.bin" \
    --dosdevices "$folder" >"$work/peer.log" 2>&1 &
  peer=$!
  for _ in $(seq 100); do [ -L "$folder/$link" ] && grep -q '^link' "$work/peer.log" && break; sleep 0.05; done
  (cd "$work" && timeout 120 wine "$wintests/tests/port/link_wine_probe.exe" "$kind")
  for _ in $(seq 100); do kill -0 "$peer" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$peer" 2>/dev/null || ! wait "$peer"; then
    echo "wine link test ($kind): the handheld did not restart" >&2
    cat "$work/peer.log" >&2
    exit 1
  fi
  peer=""
  # Everything from the loader block on must be the image that was sent.
  cmp -i 0x40000:0x40000 -n 0xC0000 "$work/flash.bin" "$work/expected.bin"
  echo "wine link test ($kind): passed"
done
