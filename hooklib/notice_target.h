// Where the icon-change notices of one process go. The dialog found at attach serves for as long
// as a notice can be posted to it. Once it cannot (the host ended, and maybe started again with a
// new dialog), the window tree is walked again by the attach routine's rules and the notice goes
// to the dialog found, or nowhere. Walks are rationed per process, so that a program that sets
// icons in a loop while no host runs pays one walk per interval, not one per call. The post is
// the test, so a live dialog costs nothing beyond the post itself.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/contract.h"

namespace quillon {

inline constexpr std::uint32_t kRewalkIntervalMs = 500;

// The icon-change notice: the window in wParam, always the same lParam.
template <class Port>
bool PostNoticeTo(Port& port, WindowId dialog, WindowId window) noexcept {
  return port.Post(dialog, contract::kNoticeMessage, window, contract::kNoticeLParam);
}

// Port: bool Post(target, message, wParam, lParam) (false when the message could not be posted,
// a target that is no window among the reasons), std::uint32_t NowMs() (a
// millisecond clock that wraps), WindowId FindHostDialog() (the walk; 0 when it finds no dialog).
// `dialog` and `lastWalkMs` (when the last walk started; the attach routine's walk counts) are
// shared by every thread that runs the hook procedure, and by the watchdog.
// Returns whether a notice was posted. Of the threads that find the dialog gone at once, only the
// one that wins the interval walks; the others post nothing.
template <class Port>
bool PostNotice(Port& port, std::atomic<WindowId>& dialog, std::atomic<std::uint32_t>& lastWalkMs,
                WindowId window) noexcept {
  const WindowId current = dialog.load(std::memory_order_acquire);
  if (current != 0 && PostNoticeTo(port, current, window)) return true;

  const std::uint32_t now = port.NowMs();
  std::uint32_t last = lastWalkMs.load(std::memory_order_relaxed);
  // Unsigned difference: right across the clock's wrap.
  if (now - last < kRewalkIntervalMs) return false;
  if (!lastWalkMs.compare_exchange_strong(last, now, std::memory_order_relaxed)) return false;

  // A walk that finds nothing forgets the dead dialog too: its handle may one day name another
  // program's window. The same dialog found again (its queue was full) is not posted to twice.
  const WindowId found = port.FindHostDialog();
  dialog.store(found, std::memory_order_release);
  return found != 0 && found != current && PostNoticeTo(port, found, window);
}

}  // namespace quillon
