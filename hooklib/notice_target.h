// Where the icon-change notices of one process go. The dialog found at attach serves for as long
// as it is a window. Once it is not (the host ended, and maybe started again with a new dialog),
// the next WM_SETICON walks the window tree again by the attach routine's rules and the notice
// goes to the dialog found, or nowhere. Walks are rationed per process, so that a program that
// sets icons in a loop while no host runs pays one walk per interval, not one per call.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/contract.h"

namespace quillon {

inline constexpr std::uint32_t kRewalkIntervalMs = 500;

// Port: bool IsWindow(WindowId), std::uint32_t NowMs() (wraps), WindowId FindHostDialog() (the
// walk; 0 when it finds no dialog).
// `dialog` and `lastWalkMs` (when the last walk started, on the port's clock; the attach routine's
// walk counts) are shared by every thread that runs the hook procedure, and by the watchdog.
// Returns the dialog to notify, or 0 for none. Of the threads that find the dialog gone at once,
// only the one that wins the interval walks; the others send no notice.
template <class Port>
WindowId ResolveNoticeTarget(Port& port, std::atomic<WindowId>& dialog,
                             std::atomic<std::uint32_t>& lastWalkMs) noexcept {
  const WindowId current = dialog.load(std::memory_order_acquire);
  if (current != 0 && port.IsWindow(current)) return current;

  const std::uint32_t now = port.NowMs();
  std::uint32_t last = lastWalkMs.load(std::memory_order_relaxed);
  // Unsigned difference: right across the clock's wrap.
  if (now - last < kRewalkIntervalMs) return 0;
  if (!lastWalkMs.compare_exchange_strong(last, now, std::memory_order_relaxed)) return 0;

  // A walk that finds nothing forgets the dead dialog too: its handle may one day name another
  // program's window.
  const WindowId found = port.FindHostDialog();
  dialog.store(found, std::memory_order_release);
  return found;
}

}  // namespace quillon
