// Tallyhook's module state, one set per process the library is mapped into. The attach routine
// writes it once, under the loader lock, before any HookProc or TimerProc call can run; after
// that it is only read, so no lock guards it.
#pragma once

#include <windows.h>

#include "settings/settings.h"

extern HWND g_hTrayWnd;     // first visible "Shell_TrayWnd"
extern HWND g_hRebarWnd;    // its "ReBarWindow32" child
extern HWND g_hTaskSwWnd;   // that one's "MSTaskSwWClass" child
extern HWND g_hHostDlg;     // the host's dialog: target of the icon-change notice
extern HHOOK g_hHook;       // the host's hook, from the dialog's property; removed by the watchdog
extern UINT_PTR g_idTimer;  // the watchdog timer's id as the system chose it; 0 when none
// The thread that started the watchdog timer: the only one that can stop it.
extern DWORD g_dwTimerThread;

// The library's settings store: file backend, firm "Orvane", application "Quillon".
extern quillon::CSettingsA g_settings;
