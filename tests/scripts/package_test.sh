#!/usr/bin/env bash
# scripts/package writes only into a folder it creates or made on an earlier run: any other is
# refused and left exactly as it was; in its own folder it replaces what it installed and keeps
# what was added by hand. A fresh host project builds against it with every toolchain file it
# ships.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=0
fail() { echo "FAILED: $*"; failed=1; }
package() { "$root/scripts/package" "$1" >"$work/log" 2>&1; }
. "$root/tests/scripts/lib/refusals.sh"

# --- folders that are not its own ---------------------------------------------------------------
a_folder_with_a_package_layout() { mkdir -p "$1/bin/x86" "$1/docs"; echo "mine" >"$1/bin/x86/Tallyhook.dll"; }
expect_refusals package "$work/log" scripts/package \
  someones_folder an_empty_folder a_file a_folder_with_a_package_layout

# --- its own folder -----------------------------------------------------------------------------
own=$work/new/package
if ! package "$own"; then
  fail "a new folder: packaging failed:"
  tail -n 20 "$work/log"
else
  for file in bin/x86/Tallyhook.dll bin/x64/Sidecar64.exe docs/integration.md LICENSE; do
    grep -qx "$file" "$own/.quillon-package" || fail "a new folder: $file is not in the marker"
  done
  # A second run into it: a file added by hand stays, a file the last run installed (as its
  # marker says) goes unless this run installs it again, and a marker line that points outside
  # the folder is not followed.
  echo "my notes" >"$own/notes.txt"
  mkdir -p "$own/old/deeper"
  echo "from an earlier version" >"$own/old/deeper/stale.txt"
  echo "next to the package" >"$work/new/outside.txt"
  printf '%s\n' old/deeper/stale.txt ../outside.txt "$work/new/outside.txt" >>"$own/.quillon-package"
  echo "changed" >"$own/docs/integration.md"
  if ! package "$own"; then
    fail "its own folder: the second run failed:"
    tail -n 20 "$work/log"
  else
    [ -f "$own/notes.txt" ] || fail "its own folder: a file added by hand was deleted"
    [ ! -e "$own/old" ] || fail "its own folder: a file of the last run (and its folders) stayed"
    [ -f "$work/new/outside.txt" ] || fail "its own folder: a file outside it was deleted"
    cmp -s "$own/docs/integration.md" "$root/docs/integration.md" ||
      fail "its own folder: an installed file was not replaced"
    [ -f "$own/bin/x86/Tallyhook.dll" ] || fail "its own folder: Tallyhook.dll missing"
  fi
  # A host project of its own, outside this tree, with each toolchain file of the package.
  bash "$root/tests/package/build_with_toolchains.sh" "$own" "$work/host" ||
    fail "a host project does not build against the package"
fi

[ "$failed" = 0 ] && echo "package: refuses folders of others, keeps what is not its own"
exit "$failed"
