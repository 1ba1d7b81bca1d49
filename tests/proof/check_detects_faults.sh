#!/usr/bin/env bash
# The hardening check's own test: run against the deliberately unhardened fixture, it must fail
# and name every fault the fixture carries.
#   check_detects_faults.sh <check_pe_hardening.sh> <unhardened image> <machine>
set -euo pipefail
check=$1 image=$2 machine=$3
status=0  # the check is expected to fail here
output=$("$check" --file "$image" --machine "$machine" --allow "kernel32.dll user32.dll msvcrt.dll" \
         --exports HookProc --high-entropy --as-invoker) || status=$?
echo "$output"
[ "$status" != 0 ] || { echo "the check passed an unhardened image"; exit 1; }
missing=0
while IFS= read -r expected; do
  grep -qF -- "$expected" <<<"$output" || { echo "not reported: $expected"; missing=1; }
done <<'LIST'
DYNAMIC_BASE is not set
NX_COMPAT is not set
HIGH_ENTROPY_VA is not set
section .wxdata is both writable and executable
imports gdi32.dll, which is not on the allow-list
exports [Extra HookProc], expected exactly [HookProc]
execution level is not asInvoker
uiAccess is not false
LIST
exit "$missing"
