#!/usr/bin/env bash
# Checks the hardening of one shipped Windows binary and reports every failed check (not only the
# first), one "FAIL: ..." line each; exits non-zero when any failed.
#
#   check_pe_hardening.sh --file F --machine i386|amd64 --allow "dll dll ..." [--exports "A B"]
#                         [--no-exports] [--high-entropy] [--as-invoker]
#
#   --allow         every imported DLL must be in this list (case-insensitive)
#   --exports       the export names must be exactly these (undecorated), in any order
#   --no-exports    the image must export nothing
#   --high-entropy  HIGH_ENTROPY_VA must be set (64-bit images)
#   --as-invoker    the application manifest must request level "asInvoker", uiAccess "false"
# Always checked: the machine, DYNAMIC_BASE, NX_COMPAT, and that no section is both writable and
# executable. The flags and section characteristics are read from the headers directly (objdump
# shows them only interpreted); imports, exports and resources through binutils.
set -euo pipefail

file="" machine="" allow="" exports="" no_exports=0 high_entropy=0 as_invoker=0
while [ $# -gt 0 ]; do
  case $1 in
    --file) file=$2; shift 2 ;;
    --machine) machine=$2; shift 2 ;;
    --allow) allow=$2; shift 2 ;;
    --exports) exports=$2; shift 2 ;;
    --no-exports) no_exports=1; shift ;;
    --high-entropy) high_entropy=1; shift ;;
    --as-invoker) as_invoker=1; shift ;;
    *) echo "usage error: $1" >&2; exit 2 ;;
  esac
done
[ -f "$file" ] || { echo "FAIL: no such file: $file"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Little-endian unsigned integer of `size` bytes at `offset`.
read_uint() {
  local value
  value=$(od -An -t "u$2" -j "$1" -N "$2" "$file" | tr -d ' \n')
  echo "${value:-0}"
}

pe=$(read_uint 60 4)
signature=$(od -An -c -j "$pe" -N 4 "$file" | tr -d ' \n')
if [ "$signature" != 'PE\0\0' ]; then
  echo "FAIL: not a PE image: $file"
  exit 1
fi
machine_code=$(read_uint $((pe + 4)) 2)
section_count=$(read_uint $((pe + 6)) 2)
optional_size=$(read_uint $((pe + 20)) 2)
optional=$((pe + 24))
dll_characteristics=$(read_uint $((optional + 70)) 2)  # same offset in PE32 and PE32+

case $machine in
  i386) [ "$machine_code" = 332 ] || fail "machine is $machine_code, not i386 (0x14c)" ;;
  amd64) [ "$machine_code" = 34404 ] || fail "machine is $machine_code, not amd64 (0x8664)" ;;
  *) echo "usage error: --machine i386|amd64" >&2; exit 2 ;;
esac

flag() { [ $((dll_characteristics & $1)) != 0 ]; }
flag 0x0040 || fail "DYNAMIC_BASE is not set"
flag 0x0100 || fail "NX_COMPAT is not set"
if [ "$high_entropy" = 1 ]; then flag 0x0020 || fail "HIGH_ENTROPY_VA is not set"; fi

# Section headers: 40 bytes each; name at 0, characteristics at 36.
section=$((optional + optional_size))
for ((i = 0; i < section_count; i++, section += 40)); do
  name=$(dd if="$file" bs=1 skip="$section" count=8 status=none | tr -d '\0')
  characteristics=$(read_uint $((section + 36)) 4)
  if [ $((characteristics & 0x20000000)) != 0 ] && [ $((characteristics & 0x80000000)) != 0 ]; then
    fail "section $name is both writable and executable"
  fi
done

tools=i686-w64-mingw32
[ "$machine" = amd64 ] && tools=x86_64-w64-mingw32
headers=$("$tools-objdump" -p "$file" 2>/dev/null) || fail "objdump cannot read $file"

imports=$(sed -nE 's/^[[:space:]]*DLL Name: (.*)$/\1/p' <<<"$headers" | tr 'A-Z' 'a-z')
allowed=" $(tr 'A-Z' 'a-z' <<<"$allow") "
[ -n "$imports" ] || fail "no imports found"
for dll in $imports; do
  [[ "$allowed" == *" $dll "* ]] || fail "imports $dll, which is not on the allow-list"
done

# Export names: the lines after "[Ordinal/Name Pointer] Table" look like "[   0] HookProc".
names=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
        sed -nE 's/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]+(.*)$/\1/p' | sort)
if [ "$no_exports" = 1 ]; then
  [ -z "$names" ] || fail "exports $(echo $names), expected none"
elif [ -n "$exports" ]; then
  expected=$(tr ' ' '\n' <<<"$exports" | sed '/^$/d' | sort)
  [ "$names" = "$expected" ] || fail "exports [$(echo $names)], expected exactly [$(echo $expected)]"
fi

if [ "$as_invoker" = 1 ]; then
  # The RT_MANIFEST resource (type 24) as windres prints it: one quoted line per source line.
  # An image without resources or without the element is reported below, not an error here.
  manifest=$("$tools-windres" -i "$file" -J coff -O rc 2>/dev/null |
             sed -n '/^1 24 /,/^END/p' | sed -E 's/^[[:space:]]*"//; s/\\n"$//; s/""/"/g' || true)
  levels=$(grep -o '<requestedExecutionLevel[^>]*>' <<<"$manifest" || true)
  if [ -z "$manifest" ]; then
    fail "no application manifest (RT_MANIFEST 1)"
  elif [ "$(grep -c . <<<"$levels")" != 1 ]; then
    fail "the manifest does not hold exactly one requestedExecutionLevel"
  else
    grep -q 'level="asInvoker"' <<<"$levels" || fail "execution level is not asInvoker: $levels"
    grep -q 'uiAccess="false"' <<<"$levels" || fail "uiAccess is not false: $levels"
  fi
fi

if [ "$failures" != 0 ]; then
  echo "$failures check(s) failed for $file"
  exit 1
fi
echo "ok: $file (machine $machine, DllCharacteristics $(printf 0x%04x "$dll_characteristics"), " \
     "$section_count sections, imports: $(echo $imports))"
