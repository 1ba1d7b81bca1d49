// The library's entry routine: discovery at attach, and the watchdog's hold on the module.
//
// Where the notices go: to the dialog found at attach, for as long as a notice can be posted to
// it. Once the post fails (the dialog is no window any more), the tree is walked again by the same
// rules (first visible tray, direct children, "Wendril" before "Quillon"), at most once per half
// second per process, and the notice goes to the dialog found, or nowhere (notice_target.h). So
// a process that keeps the library across a restart of the host (Wine keeps hook libraries for
// the life of the process; Windows may map the same copy again when the new hook arrives before
// the old copy has left) follows the host.
//
// What the watchdog watches: the host named by the liveness value, and its dialog with the hook
// in the dialog's property "WDIcon_hook". When a tick finds that dialog gone while the host is
// alive, it walks again on its own thread; a "Quillon" dialog that carries the hook property is
// watched from then on, with the hook it names (a restarted host), and the hook watched until
// then is asked to go when it is another one (Wine keeps a killed host's hook). A retired
// watchdog stays retired: a restarted host's freshly attached processes have watchdogs of their
// own.
//
// When the library leaves a process:
//  - Without a watchdog (no host dialog, the "Wendril" dialog, or no hook property), the module
//    holds no reference of its own: it leaves when the system (or whoever loaded it) frees it,
//    on whatever thread; nothing of it is left running.
//  - With a watchdog, the attach takes one reference to the module next to the timer. However
//    many times and on whichever thread the system frees the library, the timer can never call
//    into unmapped code. The watchdog retires, and its reference goes back, when
//      * a tick finds the host gone, and its confirmation a second later too: it asks for the
//        hook's removal once (or, in a process of another user than the host's dialog, leaves
//        the hook alone), the next tick stops the timer (on its own thread, with the id it was
//        called with) and hands the reference back; so the hook goes at the first tick after
//        the host has gone plus the confirmation, and the library leaves a tick later, as soon
//        as nobody else holds it;
//      * a tick finds the host alive but its dialog gone, and no restarted host to follow: as
//        above, without removing the hook;
//      * a tick finds that the dialog's property no longer holds the watched hook: the host has
//        removed its hook and the property, and goes on running. As above, without removing the
//        hook: the library leaves within two ticks, once the system has let it go, so the host
//        can replace the file;
//      * the thread that armed the timer ends (the timer ends with it): its detach notification
//        hands the reference back.
//    The reference goes back from the thread pool, a second after it was asked for, and the
//    pool unmaps the library only after its callback has returned.
//  - A program that frees the library more often than it loaded it takes the watchdog's
//    reference as well. If the last FreeLibrary runs on the watchdog's own thread while the
//    timer lives, the process detach stops the timer there. On another thread nothing can be
//    done safely: KillTimer works only on the timer's own thread, and the detach must not wait
//    for that thread under the loader lock. The next tick then calls into the unmapped range
//    and the process dies; so it does when the over-free comes within the second in which the
//    pool's release callback still runs. Only a program at fault gets there.
// What remains: a thread that was inside HookProc, or inside the few instructions of TimerProc
// that follow the request for the release, and is kept from running for longer than the pause
// of the release (a second) could still find the code gone; HookProc calls are counted, so only
// the last instructions of one that has already left the count are exposed.
//
// Under the loader lock nothing waits and no lock of ours is taken: the attach walks the window
// tree, adds a reference and starts a thread timer; a detach stops its own thread's timer or
// queues work to the pool, and returns. The walks after attach run in HookProc and TimerProc.
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
      quillon::DiscoverHost<quillon::Win32Settings<char>, quillon::CTextA>(port, g_settings);
  g_hTrayWnd = quillon::ToHwnd(found.tray);
  g_hRebarWnd = quillon::ToHwnd(found.rebar);
  g_hTaskSwWnd = quillon::ToHwnd(found.taskSwitch);
  g_hHostDlg.store(found.hostDialog);
  g_dwLastWalkTime.store(GetTickCount());
  g_hWatchedDlg = quillon::ToHwnd(found.hostDialog);
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

// The library is being unmapped by a FreeLibrary. Normally no timer of it is left by then: the
// watchdog's own reference kept it mapped until the timer had stopped. A program that frees the
// library more often than it loaded it takes that reference too; if that happens on the timer's
// own thread, the timer is stopped here (KillTimer on one's own thread waits for nothing), so no
// tick can call into the unmapped range.
void OnFreed() {
  if (g_dwWatchdogThread.load() != GetCurrentThreadId()) return;
  g_dwWatchdogThread = 0;
  if (g_idTimer != 0) KillTimer(nullptr, g_idTimer);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    Attach(module);
  } else if (reason == DLL_THREAD_DETACH) {
    OnThreadDetach();
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // At the process's end (reserved set) the timers end with the process.
    OnFreed();
  }
  return TRUE;
}
