// Tallyhook's module state, one set per process the library is mapped into. The attach routine
// writes it under the loader lock, before any HookProc or TimerProc call can run. After that:
//  - the notice target is shared by every thread that runs HookProc and by the watchdog, so it
//    is atomic;
//  - the watchdog's target and bookkeeping change only on the thread that armed it (its ticks
//    and that thread's own detach notification);
//  - the chain found at attach is only a record of that walk.
#pragma once

#include <windows.h>

#include <atomic>

#include "hooklib/notice_target.h"
#include "hooklib/watchdog.h"
#include "settings/liveness_confirmation.h"
#include "settings/settings.h"
#include "settings/win32_settings_port.h"

extern HWND g_hTrayWnd;    // first visible "Shell_TrayWnd", at attach
extern HWND g_hRebarWnd;   // its "ReBarWindow32" child
extern HWND g_hTaskSwWnd;  // that one's "MSTaskSwWClass" child
// The host's dialog, target of the icon-change notice (an HWND as a number, so that it can be
// atomic), and the GetTickCount of the last walk that looked for it.
extern std::atomic<quillon::WindowId> g_hHostDlg;
extern std::atomic<std::uint32_t> g_dwLastWalkTime;
extern HHOOK g_hHook;       // the watched host's hook, from its dialog's property
extern HWND g_hWatchedDlg;  // the dialog that carries it
// The watchdog timer's id as the system chose it (a tick that changes the period may get a new
// one); 0 when none.
extern UINT_PTR g_idTimer;

// The watchdog's reference to this module, taken when its timer started: while the timer can
// call TimerProc, no FreeLibrary on any thread can unmap the code. Handed back once it retires.
extern HMODULE g_hWatchdogModule;
// The thread whose timer the watchdog is, for as long as that timer lives; 0 otherwise. Only
// compared with the current thread, in that thread's own notifications, so a timer is only ever
// stopped by the thread that owns it.
extern std::atomic<DWORD> g_dwWatchdogThread;
extern quillon::WatchdogStage g_eWatchdogStage;
// Whether the watchdog's last look found no live host, so that its next tick confirms it.
extern quillon::LivenessConfirmation g_livenessConfirmation;
// Calls of HookProc running right now, on any thread.
extern std::atomic<long> g_lHookCalls;

// The library's settings store: file backend (found and read through the wide calls), firm
// "Orvane", application "Quillon".
extern quillon::Win32Settings<char> g_settings;
