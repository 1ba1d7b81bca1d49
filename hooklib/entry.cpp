// The library's entry routine: discovery once at attach, and the watchdog's hold on the module.
//
// When the library leaves a process:
//  - Without a watchdog (no host dialog, the "Wendril" dialog, or no hook property), the module
//    holds no reference of its own: it leaves when the system (or whoever loaded it) frees it,
//    on whatever thread; nothing of it is left running.
//  - With a watchdog, the attach takes one reference to the module next to the timer. However
//    many times and on whichever thread the library is freed, the timer can never call into
//    unmapped code. The watchdog retires, and its reference goes back, when
//      * a tick finds the host gone: it asks for the hook's removal once, the next tick stops
//        the timer (on its own thread, with the id it was called with) and hands the reference
//        back; so the library leaves at most two ticks (20 s) after the host has gone, as soon
//        as nobody else holds it;
//      * a tick finds the host alive but its dialog gone: as above, without removing the hook;
//      * the thread that armed the timer ends (the timer ends with it): its detach notification
//        hands the reference back.
//    The reference goes back from the thread pool, a second after it was asked for, and the
//    pool unmaps the library only after its callback has returned.
// What remains: a thread that was inside HookProc, or inside the few instructions of TimerProc
// that follow the request for the release, and is kept from running for longer than the pause
// of the release (a second) could still find the code gone; HookProc calls are counted, so only
// the last instructions of one that has already left the count are exposed. And while the host
// lives, an armed process keeps the library even after the hook was removed: the host's
// installer replaces the file once the host has ended, or renames it aside first.
//
// Under the loader lock nothing waits and no lock of ours is taken: the attach adds a reference
// and starts a thread timer; a detach queues work to the pool and returns.
#include <windows.h>

#include "hooklib/attach.h"
#include "hooklib/hook_proc.h"
#include "hooklib/module_lifetime.h"
#include "hooklib/module_state.h"
#include "hooklib/win32_attach_port.h"

namespace {

// Arming takes the reference after the timer started, so that a failure needs no FreeLibrary
// under the loader lock: the timer is stopped again, here, on the thread that started it.
UINT_PTR HoldModuleForTimer(HINSTANCE module, UINT_PTR timer) {
  if (timer == 0) return 0;
  if (quillon::HoldModule(module)) return timer;
  KillTimer(nullptr, timer);
  return 0;
}

void Attach(HINSTANCE module) {
  quillon::Win32AttachPort port(TimerProc);
  const quillon::Discovery found =
      quillon::DiscoverHost<quillon::CSettingsA, quillon::CTextA>(port, g_settings);
  g_hTrayWnd = quillon::ToHwnd(found.tray);
  g_hRebarWnd = quillon::ToHwnd(found.rebar);
  g_hTaskSwWnd = quillon::ToHwnd(found.taskSwitch);
  g_hHostDlg = quillon::ToHwnd(found.hostDialog);
  g_hHook = reinterpret_cast<HHOOK>(found.hook);
  g_idTimer = HoldModuleForTimer(module, found.timer);
  if (g_idTimer != 0) {
    g_hWatchdogModule = module;
    g_dwWatchdogThread = GetCurrentThreadId();
    g_eWatchdogStage = quillon::WatchdogStage::kWatching;
  } else {
    // Only an armed watchdog needs to hear of its thread's end.
    DisableThreadLibraryCalls(module);
  }
}

// The thread that armed the watchdog is ending, and its timer with it: nothing can call
// TimerProc any more, so the reference goes back.
void OnThreadDetach() {
  if (g_dwWatchdogThread.load() != GetCurrentThreadId()) return;
  g_dwWatchdogThread = 0;
  if (g_eWatchdogStage == quillon::WatchdogStage::kRetired) return;
  g_eWatchdogStage = quillon::WatchdogStage::kRetired;
  quillon::ReleaseModuleLater(g_hWatchdogModule);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    Attach(module);
  } else if (reason == DLL_THREAD_DETACH) {
    OnThreadDetach();
  }
  // Process detach has nothing to do: a FreeLibrary can only unmap the library when no timer of
  // it is left, and at process exit the timers end with the process.
  return TRUE;
}
