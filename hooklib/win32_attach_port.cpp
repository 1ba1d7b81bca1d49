#include "hooklib/win32_attach_port.h"

namespace quillon {

WindowId Win32AttachPort::FindTopLevel(const char* windowClass, WindowId after) {
  if (after == 0) return FromHwnd(FindWindowA(windowClass, nullptr));
  return FromHwnd(FindWindowExA(nullptr, ToHwnd(after), windowClass, nullptr));
}

WindowId Win32AttachPort::FindChild(WindowId parent, const char* windowClass, const char* title) {
  return FromHwnd(FindWindowExA(ToHwnd(parent), nullptr, windowClass, title));
}

bool Win32AttachPort::IsVisible(WindowId window) { return IsWindowVisible(ToHwnd(window)) != 0; }

HookRef Win32AttachPort::GetProperty(WindowId window, const char* name) {
  return reinterpret_cast<HookRef>(GetPropA(ToHwnd(window), name));
}

TimerRef Win32AttachPort::StartWatchdogTimer(unsigned periodMs) {
  // Without a window the system ignores the requested id 1 and chooses one.
  return SetTimer(nullptr, 1, periodMs, watchdog_);
}

}  // namespace quillon
