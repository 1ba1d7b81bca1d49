# Shared Wine/Xvfb plumbing for scripts/test, scripts/demo, scripts/bench and scripts/wine-run.
# Source it; it defines functions and sets nothing until they are called.

QUILLON_ROOT=${QUILLON_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}

# Debian's /usr/bin/wine starts every program through the 32-bit loader first, which costs a few
# seconds where i386 runs under qemu; the 64-bit loader starts 64-bit programs directly and hands
# 32-bit ones on by itself.
if [ -x /usr/lib/wine/wine64 ]; then WINE=${WINE:-/usr/lib/wine/wine64}; else WINE=${WINE:-wine}; fi

# The environment every Wine process of ours runs with: one private prefix inside the build
# folder, no debug chatter, no Mono/Gecko install prompts.
wine_env() {
  export WINEPREFIX=${WINEPREFIX:-$QUILLON_ROOT/build/wineprefix}
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

# Creates the prefix once, serially (parallel first runs race), under a lock so that concurrent
# callers wait for the one that creates it.
wine_prefix_init() {
  wine_env
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.quillon-ready" ]; then
      echo "wine: creating prefix $WINEPREFIX" >&2
      WINELOADER=$WINE "$WINE" wineboot --init >/dev/null 2>&1 || true
      wineserver -w
      # A crashing test program must fail, not wait for a click on the crash dialog.
      "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >/dev/null 2>&1
      wineserver -w
      touch "$WINEPREFIX/.quillon-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}

# One Xvfb and one persistent wineserver for a whole run; wine_session_stop ends both.
wine_session_start() {
  wine_prefix_init
  if [ -z "${DISPLAY:-}" ]; then
    local n
    for n in $(seq 90 140); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      QUILLON_XVFB_PID=$!
      local i
      for i in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
      if kill -0 "$QUILLON_XVFB_PID" 2>/dev/null; then
        export DISPLAY=":$n"
        break
      fi
    done
    [ -n "${DISPLAY:-}" ] || { echo "wine: could not start Xvfb" >&2; return 1; }
  fi
  wineserver -p
  # Start Wine's own background processes (services, explorer) now, detached from any pipe:
  # started by the first test instead, they would inherit its output pipe and keep CTest waiting
  # for end-of-file long after the test has exited.
  "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_session_stop() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1 || true
  if [ -n "${QUILLON_XVFB_PID:-}" ]; then
    kill "$QUILLON_XVFB_PID" 2>/dev/null || true
    wait "$QUILLON_XVFB_PID" 2>/dev/null || true
    unset QUILLON_XVFB_PID DISPLAY
  fi
}
