// The library's entry routine: discovery once at attach, and on FreeLibrary the watchdog timer
// is stopped before the code it would call leaves the process. Nothing else runs under the
// loader lock.
#include <windows.h>

#include "hooklib/attach.h"
#include "hooklib/hook_proc.h"
#include "hooklib/module_state.h"
#include "hooklib/win32_attach_port.h"

namespace {

void Attach(HINSTANCE module) {
  DisableThreadLibraryCalls(module);
  quillon::Win32AttachPort port(TimerProc);
  const quillon::Discovery found =
      quillon::DiscoverHost<quillon::CSettingsA, quillon::CTextA>(port, g_settings);
  g_hTrayWnd = quillon::ToHwnd(found.tray);
  g_hRebarWnd = quillon::ToHwnd(found.rebar);
  g_hTaskSwWnd = quillon::ToHwnd(found.taskSwitch);
  g_hHostDlg = quillon::ToHwnd(found.hostDialog);
  g_hHook = reinterpret_cast<HHOOK>(found.hook);
  g_idTimer = found.timer;
  if (g_idTimer != 0) g_dwTimerThread = GetCurrentThreadId();
}

// A thread timer belongs to the thread that started it: KillTimer(NULL, id) looks only at the
// calling thread's timers. So the timer is stopped only when FreeLibrary runs on that thread.
// On any other thread a KillTimer could at best fail and at worst (where timer ids are numbered
// per thread) stop an unrelated timer of the freeing thread with the same id, and nothing else
// can be done safely under the loader lock (no waiting for the owner, and pinning the module is
// too late once its detach is running). The timer then stays: that case is left as it was.
void StopWatchdog() {
  if (g_idTimer != 0 && g_dwTimerThread == GetCurrentThreadId()) {
    KillTimer(nullptr, g_idTimer);
    g_idTimer = 0;
  }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    Attach(module);
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // FreeLibrary. At process exit (reserved != NULL) the process's timers end with it.
    StopWatchdog();
  }
  return TRUE;
}
