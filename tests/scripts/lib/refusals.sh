# For the tests of the scripts that write only into folders of their own (scripts/package,
# scripts/release). Sourced; the test defines fail() and $work.

# Every entry below a folder with its type, size, mode and time, and every file's checksum.
snapshot() { (cd "$1" && find . -printf '%p %y %s %m %T@\n' | sort && find . -type f -exec md5sum {} + | sort); }

# Folders that are nobody's to write into: each makes it at the path it is given.
someones_folder() { mkdir -p "$1/Projects"; echo "notes" >"$1/todo.txt"; echo "x" >"$1/Projects/a"; }
an_empty_folder() { mkdir "$1"; }
a_file() { echo "a document" >"$1"; }

# expect_refusals RUN LOG SCRIPT MAKER...: each MAKER makes a folder (or a file) at the path it is
# given, in $work/folders; `RUN <path>` must fail, LOG must hold SCRIPT's refusal, and nothing in
# $work/folders may have changed.
expect_refusals() {
  local run=$1 log=$2 script=$3 make target before
  shift 3
  mkdir "$work/folders"
  for make in "$@"; do
    target=$work/folders/$make
    "$make" "$target"
    before=$(snapshot "$work/folders")
    if "$run" "$target"; then
      fail "$make: $script wrote into it"
    elif ! grep -q "refused: .* was not made by $script" "$log"; then
      fail "$make: no clear refusal:"
      cat "$log"
    fi
    [ "$before" = "$(snapshot "$work/folders")" ] || fail "$make: changed although refused"
  done
}
