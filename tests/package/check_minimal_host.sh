#!/usr/bin/env bash
# The example host as a host developer gets it: the package made by scripts/package, the
# example copied out of it into a fresh folder and configured against the package alone (no path
# into this source tree), built, and run under Wine with the shipped binaries beside it while our
# 32-bit icon flipper changes its icons. The example must get a notice and resolve its path.
#
#   check_minimal_host.sh <source root> <build root> <dist> <work folder>
set -euo pipefail
root=$1 build=$2 dist=$3 work=$4
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
QUILLON_BUILD=$build DIST_DIR=$dist "$root/scripts/package" "$work/package" >"$work/package.log" 2>&1 ||
  { cat "$work/package.log"; fail "scripts/package"; }

# The host's own project, with the package's toolchain file: nothing of this tree but the package.
cp -r "$work/package/examples/minimal_host" "$work/src"
toolchain=$work/package/toolchains/mingw-i686.cmake
cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$work/package" >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; fail "configure against the package"; }
cmake --build "$work/build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build"; }
if grep -Eq "$root/(host|cmake|settings|hooklib|assistant)" "$work/build/build.ninja"; then
  fail "the example's build reaches into the source tree"
fi
for file in minimal_host.exe Tallyhook.dll Sidecar64.exe; do
  [ -f "$work/build/$file" ] || fail "$file missing beside the example"
done

winpath() { printf 'Z:%s' "${1//\//\\}"; }
"$root/scripts/wine-run" "$(winpath "$dist/QuillonIconFlipper.exe")" --seconds 150 --windows 1 \
  --period-ms 1000 >"$work/flipper.log" 2>&1 &
flipper=$!
set +e
timeout 300 "$root/scripts/wine-run" "$(winpath "$work/build/minimal_host.exe")" 120 \
  >"$work/host.log" 2>&1
code=$?
set -e
flipper_id=$(grep -Eo '^flipper: process [0-9]+' "$work/flipper.log" | cut -d' ' -f3 || true)
[ -n "$flipper_id" ] && "$root/scripts/wine-run" taskkill /pid "$flipper_id" >/dev/null 2>&1 || true
kill "$flipper" 2>/dev/null || true
wait "$flipper" 2>/dev/null || true

cat "$work/host.log"
version=$(sed -nE 's/^set\(PACKAGE_VERSION "([^"]+)"\)/\1/p' \
  "$work/package/lib/cmake/QuillonCompanions/QuillonCompanionsConfigVersion.cmake")
# The client's sources in the package, configured on their own, know the same version.
cmake -S "$work/package/src/client" -B "$work/client-build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" >"$work/client-configure.log" 2>&1 ||
  { cat "$work/client-configure.log"; fail "configure the package's client sources"; }
grep -qx "set(PACKAGE_VERSION \"$version\")" "$work/client-build/QuillonCompanionsConfigVersion.cmake" ||
  fail "the package's client sources do not install version $version"
grep -q "minimal_host: client $version" "$work/host.log" || fail "version $version not reported"
grep -Eq 'notice for window 0x[0-9a-f]{8}: [A-Za-z]:\\.*QuillonIconFlipper\.exe' "$work/host.log" ||
  fail "no notice with the flipper's path"
grep -q 'minimal_host: ended' "$work/host.log" || fail "did not end cleanly"
[ "$code" = 0 ] || fail "exit code $code"
# Both binaries carry the package's version in their version resources.
for file in Tallyhook.dll Sidecar64.exe; do
  strings -e l "$work/build/$file" | grep -qx "$version.0" || fail "$file is not version $version"
done
echo "ok: minimal_host $version built against the package and ran under Wine"
