// Message pumping for test programs and the stand-in host.
#pragma once

#include <windows.h>

#include <functional>

namespace quillon::shell {

// Called for every message taken from the queue, before it is dispatched.
using MessageObserver = std::function<void(const MSG&)>;

enum class PumpResult { kDone, kTimedOut, kQuit };

// Retrieves and dispatches this thread's messages until `done()` is true (checked whenever the
// queue is empty; an empty function never is), `milliseconds` have passed, or WM_QUIT arrives
// (it is consumed, not re-posted).
PumpResult PumpMessagesUntil(const std::function<bool()>& done, DWORD milliseconds,
                             const MessageObserver& observe = {});

// Pumps for `milliseconds`; false when WM_QUIT ended it early.
inline bool PumpMessagesFor(DWORD milliseconds, const MessageObserver& observe = {}) {
  return PumpMessagesUntil({}, milliseconds, observe) != PumpResult::kQuit;
}

}  // namespace quillon::shell
