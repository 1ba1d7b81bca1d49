// The decision of the hook procedure, apart from the Win32 entry point so that it can be tested
// with a fake port. It sits on the return path of every window procedure of every hooked thread:
// no allocation, no lock, no call but the call of the next hook; only a WM_SETICON pays for the
// notice (notice_target.h).
#pragma once

#include <cstdint>
#include <type_traits>

namespace quillon {

inline constexpr unsigned kSetIconMessage = 0x0080;  // WM_SETICON

template <class Handle>
constexpr std::uintptr_t HandleWord(Handle handle) noexcept {
  if constexpr (std::is_pointer_v<Handle>) {
    return reinterpret_cast<std::uintptr_t>(handle);
  } else {
    return static_cast<std::uintptr_t>(handle);
  }
}

// Record: the system's CWPRETSTRUCT (or a twin with `message` and `hwnd`).
// Port: PostNotice(window) (posts the icon-change notice for `window` to the host's dialog, if
// there is one) and CallNext(code, wParam, lParam).
// Posts the notice when a window has processed WM_SETICON; always passes the call on unchanged
// and returns what the next hook returns.
template <class Record, class Port, class WParam, class LParam>
auto HandleHookCall(Port& port, int code, WParam wParam, LParam lParam) noexcept {
  if (code >= 0 && lParam != 0) {
    const auto* record = reinterpret_cast<const Record*>(lParam);
    if (record->message == kSetIconMessage) port.PostNotice(HandleWord(record->hwnd));
  }
  return port.CallNext(code, wParam, lParam);
}

}  // namespace quillon
