// Tallyhook's module state, one set per process the library is mapped into. The attach routine
// writes the handles once, under the loader lock, before any HookProc or TimerProc call can run;
// after that they are only read, so no lock guards them. The watchdog's own bookkeeping changes
// only on the thread that armed it (its ticks and that thread's own detach notification).
#pragma once

#include <windows.h>

#include <atomic>

#include "hooklib/watchdog.h"
#include "settings/settings.h"

extern HWND g_hTrayWnd;     // first visible "Shell_TrayWnd"
extern HWND g_hRebarWnd;    // its "ReBarWindow32" child
extern HWND g_hTaskSwWnd;   // that one's "MSTaskSwWClass" child
extern HWND g_hHostDlg;     // the host's dialog: target of the icon-change notice
extern HHOOK g_hHook;       // the host's hook, from the dialog's property; removed by the watchdog
extern UINT_PTR g_idTimer;  // the watchdog timer's id as the system chose it; 0 when none

// The watchdog's reference to this module, taken when its timer started: while the timer can
// call TimerProc, no FreeLibrary on any thread can unmap the code. Handed back once it retires.
extern HMODULE g_hWatchdogModule;
// The thread whose timer the watchdog is, for as long as that timer lives; 0 otherwise. Only
// compared with the current thread, in that thread's own detach notification: never used to
// stop a timer, so a reused id can do no harm.
extern std::atomic<DWORD> g_dwWatchdogThread;
extern quillon::WatchdogStage g_eWatchdogStage;
// Calls of HookProc running right now, on any thread.
extern std::atomic<long> g_lHookCalls;

// The library's settings store: file backend, firm "Orvane", application "Quillon".
extern quillon::CSettingsA g_settings;
