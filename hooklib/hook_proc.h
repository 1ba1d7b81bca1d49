// Tallyhook's two callbacks: the exported hook procedure and the watchdog's timer procedure.
#pragma once

#include <windows.h>

// Exported by its plain name through Tallyhook.def.
extern "C" LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);

void CALLBACK TimerProc(HWND window, UINT message, UINT_PTR idTimer, DWORD time);
