// The decision of the hook procedure, apart from the Win32 entry point so that it can be tested
// with a fake port. It sits on the return path of every window procedure of every hooked thread:
// no allocation, no lock, no call but the call of the next hook; only a WM_SETICON pays for the
// notice (notice_target.h) and for the look at the thread's mark of a notice already posted.
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
// there is one; true when it was posted), CallNext(code, wParam, lParam), and
// PostedRecordSlot(): this thread's one word for the record whose notice a call further out has
// posted (0: none), or null when the thread has none.
// Posts the notice when a window has processed WM_SETICON; always passes the call on unchanged
// and returns what the next hook returns.
//
// With a second hook of this procedure in the chain (Wine keeps a killed host's hook until the
// wineserver ends), this procedure runs again inside its own CallNext, on the same thread and
// with the same record: that nested call posts no second notice. The slot is touched only for a
// WM_SETICON, and holds the record only while the call that posted for it is in its CallNext.
template <class Record, class Port, class WParam, class LParam>
auto HandleHookCall(Port& port, int code, WParam wParam, LParam lParam) noexcept {
  if (code < 0 || lParam == 0) return port.CallNext(code, wParam, lParam);
  const auto* record = reinterpret_cast<const Record*>(lParam);
  if (record->message != kSetIconMessage) return port.CallNext(code, wParam, lParam);

  std::uintptr_t* const posted = port.PostedRecordSlot();
  const std::uintptr_t self = HandleWord(lParam);
  if (posted != nullptr && *posted == self) return port.CallNext(code, wParam, lParam);
  if (!port.PostNotice(HandleWord(record->hwnd)) || posted == nullptr) {
    return port.CallNext(code, wParam, lParam);
  }
  // Another record's WM_SETICON, sent from within the next hooks, gets its own notice; the
  // outer record is marked again once it returns.
  const std::uintptr_t outer = *posted;
  *posted = self;
  const auto result = port.CallNext(code, wParam, lParam);
  *posted = outer;
  return result;
}

}  // namespace quillon
