// The attach routine's window-system calls, made with the ANSI forms of the Win32 API.
#pragma once

#include <windows.h>

#include "hooklib/attach.h"

namespace quillon {

class Win32AttachPort final : public AttachPort {
 public:
  explicit Win32AttachPort(TIMERPROC watchdog) : watchdog_(watchdog) {}

  WindowRef FindTopLevel(const char* windowClass, WindowRef after) override;
  WindowRef FindChild(WindowRef parent, const char* windowClass, const char* title) override;
  bool IsVisible(WindowRef window) override;
  HookRef GetProperty(WindowRef window, const char* name) override;
  TimerRef StartWatchdogTimer(unsigned periodMs) override;

 private:
  TIMERPROC watchdog_;
};

inline HWND ToHwnd(std::uintptr_t window) { return reinterpret_cast<HWND>(window); }
inline WindowRef FromHwnd(HWND window) { return reinterpret_cast<WindowRef>(window); }

}  // namespace quillon
