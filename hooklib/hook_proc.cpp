#include "hooklib/hook_proc.h"

#include "hooklib/hook_call.h"
#include "hooklib/module_state.h"
#include "hooklib/watchdog.h"

namespace {

// The two calls HookProc may make.
struct Win32HookPort {
  static void Post(std::uintptr_t target, unsigned message, std::uintptr_t wParam,
                   std::intptr_t lParam) noexcept {
    PostMessageA(reinterpret_cast<HWND>(target), message, wParam, lParam);
  }
  static LRESULT CallNext(int code, WPARAM wParam, LPARAM lParam) noexcept {
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
};

class Win32WatchdogPort final : public quillon::WatchdogPort {
 public:
  bool IsWindow(std::uintptr_t window) override {
    return ::IsWindow(reinterpret_cast<HWND>(window)) != 0;
  }
  void Unhook(std::uintptr_t hook) override { UnhookWindowsHookEx(reinterpret_cast<HHOOK>(hook)); }
};

}  // namespace

extern "C" LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam) {
  Win32HookPort port;
  return quillon::HandleHookCall<CWPRETSTRUCT>(port, reinterpret_cast<std::uintptr_t>(g_hHostDlg),
                                               code, wParam, lParam);
}

void CALLBACK TimerProc(HWND, UINT, UINT_PTR, DWORD) {
  Win32WatchdogPort port;
  quillon::WatchdogTick<quillon::CSettingsA, quillon::CTextA>(
      g_settings, port, reinterpret_cast<std::uintptr_t>(g_hHook));
}
