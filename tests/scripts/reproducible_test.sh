#!/usr/bin/env bash
# One commit gives the same bytes wherever and whenever it is built:
# - the two shipped binaries and their debug files, built a second time from a copy of the tree
#   in another folder (deeper, another name), later, with another umask, time zone and locale,
#   are byte for byte those of this tree's build;
# - the client libraries of this tree's build carry no member dates or owners;
# - scripts/release, run twice at different times, with another umask and time zone, writes the
#   same zip, every entry dated from the commit and without extra fields (owner ids, time
#   stamps), and a SHA256SUMS that checks, also against the zip's own contents unpacked;
# - scripts/release writes only into a folder it made: any other is refused and left as it was.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=0
fail() { echo "FAILED: $*"; failed=1; }
shipped=(Tallyhook.dll Tallyhook.dll.debug Sidecar64.exe Sidecar64.exe.debug)
target_of() { [ "$1" = win32 ] && echo Tallyhook || echo Sidecar64; }
build_shipped() {  # source tree, preset, extra configure arguments...
  local tree=$1 preset=$2
  shift 2
  if [ ! -f "$tree/build/$preset/build.ninja" ]; then
    (cd "$tree" && cmake --preset "$preset" "$@" >"$work/configure-$preset.log" 2>&1) ||
      { cat "$work/configure-$preset.log"; return 1; }
  fi
  cmake --build "$tree/build/$preset" -j2 --target "$(target_of "$preset")" >"$work/build.log" 2>&1 ||
    { tail -n 30 "$work/build.log"; return 1; }
}

# --- the first build: this tree's own (made current) ----------------------------------------------
for preset in win32 win64; do build_shipped "$root" "$preset" || fail "$preset: this tree's build failed"; done

# --- the second: a copy elsewhere, later, only the two targets ------------------------------------
copy=$work/elsewhere/another-name/quillon
mkdir -p "$copy"
tar -C "$root" --exclude=./.git --exclude=./build --exclude='./build-*' --exclude=./dist \
  --exclude=./package --exclude=./release -cf - . | tar -C "$copy" -xf -
sleep 2  # a PE time stamp counts seconds
for preset in win32 win64; do
  (umask 077; export TZ=Pacific/Kiritimati LC_ALL=C.UTF-8
   build_shipped "$copy" "$preset" -DBUILD_TESTING=OFF) || fail "$preset: the copy's build failed"
done
for file in "${shipped[@]}"; do
  if [ ! -f "$copy/dist/$file" ]; then
    fail "$file: the copy did not build it"
  elif ! cmp -s "$root/dist/$file" "$copy/dist/$file"; then
    fail "$file differs between two builds ($(cmp -l "$root/dist/$file" "$copy/dist/$file" |
      wc -l) bytes; the first at offset $(cmp "$root/dist/$file" "$copy/dist/$file" | sed -E 's/.*byte ([0-9]+).*/\1/'))"
  fi
done

# --- the client libraries: members without dates or owners --------------------------------------
for preset in win32 win64; do
  ar=$([ $preset = win32 ] && echo i686 || echo x86_64)-w64-mingw32-ar
  library=$root/build/$preset/host/client/libhost_client.a
  [ -f "$library" ] || cmake --build "$root/build/$preset" --target host_client >"$work/build.log" 2>&1 ||
    { tail -n 30 "$work/build.log"; fail "$preset: host_client failed"; continue; }
  members=$(TZ=UTC0 "$ar" tv "$library")
  [ -n "$members" ] || fail "$preset: no members in $library"
  if grep -v ' 0/0 .* Jan  1 00:00 1970 ' <<<"$members"; then
    fail "$preset: client library members with a date or an owner (above)"
  fi
done

# --- the release zip: twice, at different times -----------------------------------------------------
release() { "$root/scripts/release" "$1" >"$work/release.log" 2>&1; }
version=$(sed -nE 's/^project\(QuillonCompanions VERSION ([0-9.]+) .*/\1/p' "$root/CMakeLists.txt")
name=QuillonCompanions-$version-windows
own=$work/releases/first
if ! release "$own"; then
  fail "scripts/release failed:"
  tail -n 20 "$work/release.log"
else
  cp "$own/$name.zip" "$work/first.zip"
  epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)}
  # A zip date counts two seconds; zip rounds an odd second up.
  expected=$(TZ=UTC0 date -d "@$(((epoch + 1) / 2 * 2))" +%Y%m%d.%H%M%S)
  dates=$(TZ=UTC0 zipinfo -T "$own/$name.zip" | awk '/^-/ { print $7 }' | sort -u)
  [ "$dates" = "$expected" ] || fail "zip entries dated $(echo $dates), not the commit's $expected"
  extras=$(zipinfo -v "$own/$name.zip" | grep -E 'length of extra field' | grep -vc ': *0 bytes' || true)
  [ "$extras" = 0 ] || fail "$extras zip entries carry extra fields (owner ids or time stamps)"
  (cd "$own" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not check in the release folder"
  entries=$(zipinfo -1 "$own/$name.zip")
  binaries=$(grep -E '\.(dll|exe|debug|a)$' <<<"$entries" | LC_ALL=C sort)
  listed=$(sed -E 's/^[0-9a-f]{64}  //' "$own/SHA256SUMS")
  [ "$listed" = "$(printf '%s\n%s' "$name.zip" "$binaries")" ] ||
    fail "SHA256SUMS does not list the zip and every binary in it: $listed"
  for file in LICENSE CHANGELOG.md bin/x86/Tallyhook.dll bin/x64/Sidecar64.exe; do
    grep -qx "$name/$file" <<<"$entries" || fail "$file is not in the zip"
  done
  mkdir "$work/unpacked"
  cp "$own/$name.zip" "$own/SHA256SUMS" "$work/unpacked/"
  (cd "$work/unpacked" && unzip -q "$name.zip" && sha256sum --quiet -c SHA256SUMS) ||
    fail "SHA256SUMS does not check against the zip's contents"

  # Again into its own folder, minutes later and otherwise set up: a file added by hand stays.
  echo "my notes" >"$own/notes.txt"
  sleep 2
  if ! (umask 077; TZ=America/St_Johns release "$own"); then
    fail "scripts/release into its own folder failed:"
    tail -n 20 "$work/release.log"
  else
    cmp -s "$work/first.zip" "$own/$name.zip" || fail "two runs of scripts/release gave two zips"
    [ -f "$own/notes.txt" ] || fail "scripts/release deleted a file added by hand to its folder"
  fi
fi

# --- folders that are not its own ---------------------------------------------------------------
. "$root/tests/scripts/lib/refusals.sh"
a_folder_with_a_release_in_it() { mkdir "$1"; echo "mine" >"$1/$name.zip"; echo "0  x" >"$1/SHA256SUMS"; }
expect_refusals release "$work/release.log" scripts/release \
  someones_folder an_empty_folder a_file a_folder_with_a_release_in_it

[ "$failed" = 0 ] && echo "reproducible: two builds and two releases, the same bytes"
exit "$failed"
