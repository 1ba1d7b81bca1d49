#!/usr/bin/env bash
# The soak's short form: one minute of schedule with the whole system (at least two host
# restarts, a clean end and a kill among them, and two Sidecar64 kills), every check of the long
# run included. Passes only when the soak lost nothing and did at least that much. A failing run
# prints its seed; QUILLON_SOAK_SEED=<seed> repeats it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
log=$(mktemp)
trap 'rm -f "$log"' EXIT

rc=0
"$root/scripts/soak" --minutes 1 ${QUILLON_SOAK_SEED:+--seed "$QUILLON_SOAK_SEED"} 2>&1 |
  tee "$log" || rc=$?

failed=0
fail() { echo "FAILED: $*"; failed=1; }
[ "$rc" = 0 ] || fail "scripts/soak exit code $rc"
figure() { sed -nE "s/^$1: *([0-9]+).*/\\1/p" "$log" | tail -n 1; }
restarts=$(figure 'host restarts')
kills=$(figure 'Sidecar64 kills')
[ "${restarts:-0}" -ge 2 ] || fail "host restarts: ${restarts:-none} (at least 2)"
[ "${kills:-0}" -ge 2 ] || fail "Sidecar64 kills: ${kills:-none} (at least 2)"
grep -Eq '^host restarts: +[0-9]+ \(clean ends [1-9][0-9]*, kills [1-9][0-9]*' "$log" ||
  fail "not both a clean end and a kill among the restarts"
grep -q '^== soak: nothing lost' "$log" || fail "the soak lost something"
exit "$failed"
