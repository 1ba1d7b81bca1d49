#include "hooklib/hook_proc.h"

#include "hooklib/attach.h"
#include "hooklib/hook_call.h"
#include "hooklib/module_lifetime.h"
#include "hooklib/module_state.h"
#include "hooklib/notice_target.h"
#include "hooklib/posted_record_slot.h"
#include "hooklib/process_user.h"
#include "hooklib/watchdog.h"
#include "hooklib/win32_attach_port.h"

namespace {

// What HookProc may call: the next hook on every call; for a WM_SETICON, the post of the notice
// and, when that fails, the search for the host's dialog.
struct Win32HookPort {
  bool PostNotice(std::uintptr_t window) noexcept {
    return quillon::PostNotice(*this, g_hHostDlg, g_dwLastWalkTime, window);
  }
  static bool Post(std::uintptr_t target, unsigned message, std::uintptr_t wParam,
                   std::intptr_t lParam) noexcept {
    return PostMessageA(quillon::ToHwnd(target), message, wParam, lParam) != 0;
  }
  static std::uint32_t NowMs() noexcept { return GetTickCount(); }
  static quillon::WindowId FindHostDialog() noexcept {
    quillon::Win32AttachPort tree(TimerProc);
    return quillon::WalkToHost(tree).hostDialog;
  }
  static std::uintptr_t* PostedRecordSlot() noexcept { return quillon::PostedRecordSlot(); }
  static LRESULT CallNext(int code, WPARAM wParam, LPARAM lParam) noexcept {
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
};

// A tick's calls. The release is only noted here: TimerProc asks for it as its very last step.
class Win32WatchdogPort final : public quillon::WatchdogPort {
 public:
  explicit Win32WatchdogPort(UINT_PTR timer) : timer_(timer) {}

  bool IsWindow(std::uintptr_t window) override {
    return ::IsWindow(reinterpret_cast<HWND>(window)) != 0;
  }
  void Unhook(std::uintptr_t hook) override { UnhookWindowsHookEx(reinterpret_cast<HHOOK>(hook)); }
  bool RunsAsOwnerOf(std::uintptr_t window) override {
    return quillon::RunsAsOwnerOfWindow(quillon::ToHwnd(window));
  }
  // The id of a thread timer given again replaces that timer. Should the system make a new one
  // all the same, the old one goes; should it make none, the old period stays, and the
  // confirmation comes a period later.
  void SetTimerPeriod(unsigned periodMs) override {
    const UINT_PTR renewed = SetTimer(nullptr, timer_, periodMs, TimerProc);
    if (renewed == 0) return;
    if (renewed != timer_) KillTimer(nullptr, timer_);
    timer_ = renewed;
    g_idTimer = renewed;
  }
  bool HookCallsInFlight() override { return g_lHookCalls.load() != 0; }
  // Called during a tick, so on the timer's own thread, with the id the system just passed.
  void StopTimer() override {
    KillTimer(nullptr, timer_);
    g_dwWatchdogThread = 0;
  }
  void ReleaseModule() override { release_ = true; }

  bool release() const { return release_; }

 private:
  UINT_PTR timer_;
  bool release_ = false;
};

}  // namespace

extern "C" LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam) {
  const quillon::HookCallScope counted(g_lHookCalls);
  Win32HookPort port;
  return quillon::HandleHookCall<CWPRETSTRUCT>(port, code, wParam, lParam);
}

void CALLBACK TimerProc(HWND, UINT, UINT_PTR timer, DWORD) {
  Win32WatchdogPort port(timer);
  quillon::Win32AttachPort tree(TimerProc);
  quillon::WatchdogTarget target{reinterpret_cast<std::uintptr_t>(g_hHook),
                                 reinterpret_cast<std::uintptr_t>(g_hWatchedDlg)};
  const quillon::WatchdogTarget before = target;
  g_eWatchdogStage = quillon::WatchdogTick<quillon::Win32Settings<char>, quillon::CTextA>(
      g_settings, port, tree, target, g_livenessConfirmation, g_eWatchdogStage);
  if (!(target == before)) {
    // Following a restarted host: its dialog is where the notices go now, too.
    g_hHook = reinterpret_cast<HHOOK>(target.hook);
    g_hWatchedDlg = quillon::ToHwnd(target.hostDialog);
    g_hHostDlg.store(target.hostDialog, std::memory_order_release);
  }
  if (port.release()) quillon::ReleaseModuleLater(g_hWatchdogModule);
}
