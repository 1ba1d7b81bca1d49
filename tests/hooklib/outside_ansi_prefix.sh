#!/usr/bin/env bash
# Makes the Wine prefix of the run in which the per-user application-data folder has Cyrillic and
# CJK letters in its name, as a user's folder may: "C:\users\Профиль 中文\AppData\Roaming"
# (User Shell Folders and Shell Folders -> AppData), which the ANSI code page (1252) cannot spell.
# Made once, beside the tree's own prefix and by the same rules (scripts/lib/wine.sh): a later run
# finds it ready.
#
#   outside_ansi_prefix.sh <prefix folder>
set -euo pipefail
export QUILLON_WINEPREFIX=$1
. "$(dirname "$0")/../../scripts/lib/wine.sh"
wine_prefix_init
ready=$WINEPREFIX/.quillon-outside-ansi
[ -f "$ready" ] && exit 0

name='Профиль 中文'
mkdir -p "$WINEPREFIX/drive_c/users/$name/AppData/Roaming"
# Without a UTF-8 locale the letters do not reach the registry.
for key in 'User Shell Folders' 'Shell Folders'; do
  LC_ALL=C.UTF-8 "$WINE" reg add "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\$key" \
    /v AppData /t REG_SZ /d "C:\\users\\$name\\AppData\\Roaming" /f >/dev/null
done
# The registry is on disk once this prefix's wineserver has ended.
wineserver -w
# The file spells the letters as escapes: \x41f\x440... for "Про".
grep -qF '\x41f\x440\x43e' "$WINEPREFIX/user.reg" ||
  { echo "the AppData folder did not reach $WINEPREFIX/user.reg" >&2; exit 1; }
touch "$ready"
