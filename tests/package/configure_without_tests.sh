#!/usr/bin/env bash
# A tree configured with BUILD_TESTING=OFF, with googletest out of reach, still configures, and
# would build the deliverables but no test (a dry run: nothing is compiled, DIST_DIR untouched).
#
#   configure_without_tests.sh <source> <work folder> <toolchain file> <deliverable>
set -euo pipefail
source=$1 work=$2 toolchain=$3 deliverable=$4
rm -rf "$work"
cmake -S "$source" -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF -DDIST_DIR="$work/dist" \
  -DQUILLON_GTEST_SOURCE_DIR="$work/no-googletest-here" >"$work.log" 2>&1 ||
  { cat "$work.log"; echo "FAIL: configure without googletest"; exit 1; }
planned=$(ninja -C "$work" -n 2>&1 | grep -E '^\[' | sed "s|$work||g")
grep -q "$deliverable" <<<"$planned" || { echo "FAIL: $deliverable is not built"; exit 1; }
if grep -Eiq 'gtest|googletest|_test|tests/|bench/' <<<"$planned"; then
  grep -Ei 'gtest|googletest|_test|tests/|bench/' <<<"$planned" | head -n 5
  echo "FAIL: a test would be built"
  exit 1
fi
[ -z "$(ctest --test-dir "$work" -N 2>/dev/null | grep -E '^ +Test +#')" ] ||
  { echo "FAIL: tests registered"; exit 1; }
echo "ok: BUILD_TESTING=OFF configures without googletest and builds $deliverable, no test"
rm -rf "$work"
