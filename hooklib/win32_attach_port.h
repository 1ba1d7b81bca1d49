// The attach routine's window-system calls, made with the ANSI forms of the Win32 API.
#pragma once

#include <windows.h>

#include "hooklib/attach.h"

namespace quillon {

class Win32AttachPort final : public AttachPort {
 public:
  explicit Win32AttachPort(TIMERPROC watchdog) : watchdog_(watchdog) {}

  WindowId FindTopLevel(const char* windowClass, WindowId after) override;
  WindowId FindChild(WindowId parent, const char* windowClass, const char* title) override;
  bool IsVisible(WindowId window) override;
  HookRef GetProperty(WindowId window, const char* name) override;
  TimerRef StartWatchdogTimer(unsigned periodMs) override;

 private:
  TIMERPROC watchdog_;
};

inline HWND ToHwnd(std::uintptr_t window) { return reinterpret_cast<HWND>(window); }
inline WindowId FromHwnd(HWND window) { return reinterpret_cast<WindowId>(window); }

}  // namespace quillon
