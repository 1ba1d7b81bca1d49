#!/usr/bin/env bash
# Checks the shipped Sidecar64.exe: PE32+, GUI subsystem, manifest "asInvoker" without UI access,
# a version record, and imports from Windows system DLLs only (no runtime DLL slipped in).
set -euo pipefail
exe=$1
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
fail() { echo "FAIL: $*" >&2; exit 1; }

grep -Eq '^Magic[[:space:]]+020b' <<<"$headers" || fail "not PE32+"
grep -Eq '^Subsystem[[:space:]]+00000002' <<<"$headers" || fail "subsystem is not 2 (GUI)"

allowed=" kernel32.dll user32.dll advapi32.dll shell32.dll shlwapi.dll psapi.dll msvcrt.dll "
imports=$(sed -nE 's/^[[:space:]]*DLL Name: (.*)$/\1/p' <<<"$headers" | tr 'A-Z' 'a-z')
[ -n "$imports" ] || fail "no imports found"
for dll in $imports; do
  [[ "$allowed" == *" $dll "* ]] || fail "imports $dll"
done

grep -aq 'level="asInvoker" uiAccess="false"' "$exe" || fail "manifest without asInvoker"
# VS_VERSION_INFO is stored as UTF-16.
LC_ALL=C grep -aqP 'V\x00S\x00_\x00V\x00E\x00R\x00S\x00I\x00O\x00N\x00_\x00I\x00N\x00F\x00O' "$exe" ||
  fail "no version record"
echo "ok: PE32+, GUI, imports: $(echo $imports)"
