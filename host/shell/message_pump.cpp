#include "host/shell/message_pump.h"

namespace quillon::shell {

PumpResult PumpMessagesUntil(const std::function<bool()>& done, DWORD milliseconds,
                             const MessageObserver& observe) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return PumpResult::kQuit;
      if (observe) observe(msg);
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done && done()) return PumpResult::kDone;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return PumpResult::kTimedOut;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

}  // namespace quillon::shell
