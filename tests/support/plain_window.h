// A hidden top-level window of the system's "STATIC" class, for tests that need no more than a
// window that exists: a host's main window for the liveness value, a window to send messages to.
#pragma once

#include <windows.h>

namespace quillon::test {

inline HWND MakePlainWindow(const wchar_t* title) {
  return CreateWindowExW(0, L"STATIC", title, WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                         nullptr, nullptr);
}

}  // namespace quillon::test
