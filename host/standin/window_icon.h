// The small icon a task bar shows for another program's window.
#pragma once

#include <windows.h>

#include <string>

#include "host/win32_handles.h"

namespace quillon::standin {

// Asks the window (ICON_SMALL, then ICON_SMALL2), then its class, then the same for the large
// icons; null when none answers. Each question to the window is bounded by `timeout_ms`, so a
// hung program cannot stop the caller. The icon belongs to the window's program: not ours to
// destroy.
HICON WindowSmallIcon(HWND window, UINT timeout_ms);

// The first small icon in a program file; empty when the file has none or cannot be read.
UniqueIcon ProgramSmallIcon(const std::wstring& path);

}  // namespace quillon::standin
