# Shared Wine/Xvfb plumbing for scripts/test, scripts/demo, scripts/bench and scripts/wine-run.
# Source it; it defines functions and constants, and changes nothing until they are called.

QUILLON_ROOT=${QUILLON_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}

# Debian's /usr/bin/wine starts every program through the 32-bit loader first, which costs a few
# seconds where i386 runs under qemu; the 64-bit loader starts 64-bit programs directly and hands
# 32-bit ones on by itself.
if [ -x /usr/lib/wine/wine64 ]; then WINE=${WINE:-/usr/lib/wine/wine64}; else WINE=${WINE:-wine}; fi

# The prefix of this tree: QUILLON_WINEPREFIX when set, else build/wineprefix. An inherited
# WINEPREFIX (or DISPLAY) belongs to someone else (their ~/.wine, their desktop) and is never used:
# the tests write, move and delete the host's settings in the prefix they run in.
wine_prefix_path() {
  local prefix=${QUILLON_WINEPREFIX:-$QUILLON_ROOT/build/wineprefix}
  case $prefix in /*) ;; *) prefix=$PWD/$prefix ;; esac
  printf '%s' "$prefix"
}

# The environment every Wine process of ours runs with: our own prefix, no debug chatter, no
# Mono/Gecko install prompts.
wine_env() {
  WINEPREFIX=$(wine_prefix_path)
  export WINEPREFIX
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
  wine_check_preloader
  wine_qemu_guest_base
}

# Where i386 runs under qemu-user, run it with guest_base 0 so that a 32-bit process's Windows
# addresses are its host addresses too: the wineserver reads other processes' memory through
# /proc/<pid>/mem at the Windows address, and with qemu's default base those reads (PEB, loader
# lists: GetModuleFileNameExW, EnumProcessModules, ...) miss and fail with ERROR_NOACCESS. qemu
# takes the variable from the environment through binfmt_misc, and Wine hands it on to the
# processes it starts. It needs vm.mmap_min_addr >= 64 KiB (scripts/setup); where the probe fails,
# nothing is set and 32-bit programs run as before, only unreadable from outside.
wine_qemu_guest_base() {
  [ -n "${QUILLON_WINE_GUEST_BASE_CHECKED:-}" ] && return 0
  export QUILLON_WINE_GUEST_BASE_CHECKED=1
  [ -n "${QEMU_GUEST_BASE+set}" ] && return 0
  [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && [ -x /usr/lib/wine/wine ] || return 0
  if QEMU_GUEST_BASE=0 /usr/lib/wine/wine --version >/dev/null 2>&1; then
    export QEMU_GUEST_BASE=0
  else
    echo "wine: 32-bit processes run with qemu's default guest base, so reading their memory" \
         "from another process fails; run scripts/setup (raises vm.mmap_min_addr to 65536)" >&2
  fi
  return 0
}

# Where i386 runs under qemu-user, a 32-bit start without Wine's preloader costs 60-90 s (see
# scripts/setup); say so once instead of leaving a test run to look hung.
wine_check_preloader() {
  [ -n "${QUILLON_WINE_PRELOADER_CHECKED:-}" ] && return 0
  export QUILLON_WINE_PRELOADER_CHECKED=1
  if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && [ -x /usr/lib/wine/wine ] &&
     [ ! -e /usr/lib/wine/wine-preloader ]; then
    echo "wine: wine32-preloader is missing: each 32-bit program start will take about a" \
         "minute under qemu; run scripts/setup" >&2
  fi
  return 0
}

# Markers in a prefix of ours: the folder was made by these scripts (so they may write and delete
# in it), the prefix was created successfully, and, seen from inside as C:\quillon-test-prefix.txt,
# the mark every Wine test program looks for before it touches anything (harness/own_prefix_guard.cpp).
WINE_OWNER_MARK=.quillon-prefix
WINE_READY_MARK=.quillon-ready
WINE_TEST_MARK=drive_c/quillon-test-prefix.txt

# A folder is ours when it holds our owner mark (or the ready mark of an earlier version), or when
# it is new or empty. Anything else is someone's prefix or data: refused.
wine_prefix_claim() {
  if [ -e "$WINEPREFIX" ] && [ ! -f "$WINEPREFIX/$WINE_OWNER_MARK" ] &&
     [ ! -f "$WINEPREFIX/$WINE_READY_MARK" ]; then
    if [ ! -d "$WINEPREFIX" ] || [ -n "$(ls -A "$WINEPREFIX" 2>/dev/null)" ]; then
      echo "wine: $WINEPREFIX was not made by these scripts and is left alone; set" \
           "QUILLON_WINEPREFIX to a new or empty folder (default: build/wineprefix)" >&2
      return 1
    fi
  fi
  mkdir -p "$WINEPREFIX" || return 1
  [ -f "$WINEPREFIX/$WINE_OWNER_MARK" ] ||
    echo "A Wine prefix made by Quillon's scripts/lib/wine.sh for its builds and tests." \
      >"$WINEPREFIX/$WINE_OWNER_MARK"
}

# Creates the prefix once, serially (parallel first runs race), under a lock so that concurrent
# callers wait for the one that creates it. The prefix is marked ready only when wineboot and the
# crash-dialog setting succeeded; otherwise the next call creates it again.
wine_prefix_init() {
  wine_env
  wine_prefix_claim || return 1
  (
    flock 9
    if [ ! -f "$WINEPREFIX/$WINE_READY_MARK" ]; then
      echo "wine: creating prefix $WINEPREFIX" >&2
      local log=$WINEPREFIX/.quillon-create.log
      # A crashing test program must fail, not wait for a click on the crash dialog.
      if ! { WINELOADER=$WINE "$WINE" wineboot --init && wineserver -w &&
             "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f &&
             wineserver -w; } >"$log" 2>&1 ||
         [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
        echo "wine: creating the prefix failed (it is made again next time); last lines of $log:" >&2
        tail -n 20 "$log" >&2
        exit 1
      fi
      touch "$WINEPREFIX/$WINE_READY_MARK"
    fi
    [ -f "$WINEPREFIX/$WINE_TEST_MARK" ] ||
      printf '%s\r\n' "This prefix belongs to Quillon's tests (scripts/lib/wine.sh). They write, move" \
        "and delete the host's settings under %APPDATA%\\Orvane here, and run nowhere else." \
        >"$WINEPREFIX/$WINE_TEST_MARK"
  ) 9>"$WINEPREFIX/.quillon-lock"
}

# One Xvfb and one persistent wineserver for a whole run; wine_session_stop ends those two, and
# only if this session started them. The display is always a new Xvfb (an inherited DISPLAY is
# someone's desktop), handed to scripts/wine-run as QUILLON_SESSION_DISPLAY.
wine_session_start() {
  wine_prefix_init || return 1
  QUILLON_SESSION_PREFIX=$WINEPREFIX
  unset DISPLAY
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    QUILLON_XVFB_PID=$!
    local i
    for i in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    if kill -0 "$QUILLON_XVFB_PID" 2>/dev/null; then
      export DISPLAY=":$n" QUILLON_SESSION_DISPLAY=":$n"
      break
    fi
    unset QUILLON_XVFB_PID
  done
  [ -n "${DISPLAY:-}" ] || { echo "wine: could not start Xvfb" >&2; return 1; }
  # A wineserver of this prefix that runs already (another run in this tree) is used and left
  # running: "wineserver -p" fails then, and this session ends only a server it started.
  QUILLON_OWN_WINESERVER=""
  if wineserver -p 2>/dev/null; then
    QUILLON_OWN_WINESERVER=1
  else
    echo "wine: a wineserver for $WINEPREFIX runs already; using it and leaving it running" >&2
  fi
  # Start Wine's own background processes (services, explorer) now, detached from any pipe:
  # started by the first test instead, they would inherit its output pipe and keep CTest waiting
  # for end-of-file long after the test has exited.
  "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_session_stop() {
  if [ -n "${QUILLON_OWN_WINESERVER:-}" ] && [ -n "${QUILLON_SESSION_PREFIX:-}" ]; then
    WINEPREFIX=$QUILLON_SESSION_PREFIX wineserver -k >/dev/null 2>&1 || true
    QUILLON_OWN_WINESERVER=""
  fi
  if [ -n "${QUILLON_XVFB_PID:-}" ]; then
    kill "$QUILLON_XVFB_PID" 2>/dev/null || true
    wait "$QUILLON_XVFB_PID" 2>/dev/null || true
    unset QUILLON_XVFB_PID DISPLAY QUILLON_SESSION_DISPLAY
  fi
}
