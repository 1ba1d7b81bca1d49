#!/usr/bin/env bash
# The Wine tests, run from a shell whose WINEPREFIX and DISPLAY are someone else's, leave that
# prefix (its files and its running wineserver) and that display alone.
#
# The decoy is a folder shaped like a prefix, with a host's settings under
# users/<user>/AppData/Roaming/Orvane, a wineserver of its own and an Xvfb as its display. It is
# not made with wineboot (a minute, and nothing here depends on it): a run that took the decoy for
# its prefix would create it, end its wineserver or touch its settings, and each of these shows.
# Through the whole of scripts/test runs one short Wine test, the Sidecar64 case that sets the
# firm folder aside; a whole suite would prove no more, since a run chooses its prefix, display
# and wineserver once, before any test.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
decoy=$work/decoy
roaming=$decoy/drive_c/users/$(id -un)/AppData/Roaming
server_pid="" xvfb_pid=""

cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

failed=0
fail() { echo "FAILED: $*"; failed=1; }

# The decoy's settings: the liveness files of both companions and a file of another program.
mkdir -p "$roaming/Orvane/Quillon" "$roaming/Orvane/Other"
for file in Quillon.cfg QuillonFree.cfg; do
  printf '[Options\\Windows\\Main]\r\nHandle=4242\r\n' >"$roaming/Orvane/Quillon/$file"
done
echo "another program's settings" >"$roaming/Orvane/Other/settings.ini"

# Registry files from a first server, ended at once, so that they exist before the snapshot.
WINEPREFIX=$decoy wineserver -p
WINEPREFIX=$decoy wineserver -k
WINEPREFIX=$decoy wineserver -w
WINEPREFIX=$decoy wineserver -f -p &
server_pid=$!
display=""
for n in $(seq 150 199); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  if kill -0 "$xvfb_pid" 2>/dev/null; then display=:$n; break; fi
  xvfb_pid=""
done
[ -n "$display" ] || { echo "FAILED: no Xvfb for the decoy display"; exit 1; }
sleep 1
kill -0 "$server_pid" 2>/dev/null || { echo "FAILED: the decoy's wineserver did not start"; exit 1; }

# Every path with its type, size, mode and time, and every file's contents; but the decoy's own
# wineserver rewrites its registry files half a minute after it starts (new key times), so of those
# only the size counts (wineboot would add thousands of keys), and of the folder only its entries.
snapshot() {
  (
    cd "$decoy"
    find . -mindepth 1 \( -path './*.reg' -printf '%p %y %s\n' \) -o -printf '%p %y %s %m %T@\n' |
      sort
    find . -type f ! -path './*.reg' -exec md5sum {} + | sort
  )
}
before=$(snapshot)

log=$work/test.log
status=0
WINEPREFIX=$decoy DISPLAY=$display \
  GTEST_FILTER='SidecarTest.WithoutASettingsFileItEndsAtTheFirstExpiryAndMakesTheFolders' \
  CTEST_ARGS='-R ^assistant_sidecar_tests$' \
  timeout -k 10 600 "$root/scripts/test" win64 >"$log" 2>&1 || status=$?
if [ "$status" != 0 ] || ! grep -qx '1 passed, 0 failed' "$log"; then
  fail "the Wine test did not pass in the tests' own prefix (exit $status):"
  tail -n 30 "$log"
fi

kill -0 "$server_pid" 2>/dev/null || fail "the decoy's wineserver was ended"
kill -0 "$xvfb_pid" 2>/dev/null || fail "the decoy's display was ended"
after=$(snapshot)
if [ "$before" != "$after" ]; then
  fail "the decoy prefix changed:"
  diff <(echo "$before") <(echo "$after") | head -n 20 || true
fi

[ "$failed" = 0 ] && echo "own prefix: the decoy prefix, its wineserver and its display untouched"
exit "$failed"
