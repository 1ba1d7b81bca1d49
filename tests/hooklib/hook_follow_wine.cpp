// The library follows its host through restarts. This program is the host: it ends (hook,
// property, windows) and starts again with new windows and a new hook, then ends as a killed host
// does under Wine (its hook left behind) and starts a third time, while a hooked icon flipper
// started under the first host keeps running. Wine keeps a hook library mapped for the life of
// the process, so the flipper never attaches again: its next notices must reach each new dialog
// all the same, and its watchdog must watch the newest host (it removes a dead host's hook left
// behind, and the newest host's once that host is gone). A second test floods WM_SETICON in this
// process while no host runs and measures what a call costs, with walks made expensive by many
// hidden trays.
//
//   hook_follow_wine <library> <icon flipper>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/client/win32_icon_hook.h"
#include "host/contract.h"
#include "host/shell/message_pump.h"
#include "host/shell/shell_chain.h"
#include "host/win32_handles.h"
#include "tests/support/access_violation_guard.h"
#include "tests/support/child_process.h"
#include "tests/support/clean_run.h"
#include "tests/support/plain_window.h"
#include "tests/support/settings_files.h"
#include "tests/support/test_paths.h"

namespace quillon::test {
namespace {

using shell::ShellChain;

constexpr DWORD kFirstNoticeTimeoutMs = 300000;  // a 32-bit process start costs a minute here
constexpr DWORD kFlipPeriodMs = 400;
// A notice "at once": a few flips, and the half second for which a walk that found nothing
// stands.
constexpr DWORD kAtOnceMs = 8000;
constexpr DWORD kPastOneTickMs = contract::kWatchdogPeriodMs + 1500;
// A host found gone is confirmed a second later before its hook goes.
constexpr DWORD kPastRemovalMs = kPastOneTickMs + contract::kLivenessConfirmDelayMs;
constexpr DWORD kRewalkMs = 500;  // the library looks for a gone dialog at most this often

// One life of the host: main window (named by the liveness value), shell chain with the dialog,
// and the hook with its property.
struct HostLife {
  UniqueWindow main;
  std::unique_ptr<ShellChain> chain;
  IconHook hook;

  bool Start(const std::wstring& library) {
    main.Reset(MakePlainWindow(L"host main"));
    chain = ShellChain::Create({.dialogTitle = contract::DialogTitle<wchar_t>});
    if (!main || chain == nullptr) return false;
    if (!WriteHostWindow(contract::HookSettingsFile<wchar_t>, main.Get())) return false;
    return hook.Install(chain->dialog(), library) == HookStatus::kInstalled;
  }
  // As a host ends: hook and property, then the windows.
  void End() {
    hook.Remove();
    chain.reset();
    main.Reset();
  }
  // As a killed host ends under Wine: the windows go, the hook stays in the chain (Wine removes
  // a dead thread's hooks only for the low-level kinds; Windows removes them all).
  void Killed() {
    chain.reset();
    main.Reset();
  }
  HWND dialog() const { return chain->dialog(); }
};

// The notices that reach this thread's dialogs, by dialog.
class NoticeCounter {
 public:
  shell::MessageObserver Observer() {
    return [this](const MSG& msg) {
      if (msg.message == contract::kNoticeMessage && msg.lParam == contract::kNoticeLParam) {
        ++counts_[msg.hwnd];
      }
    };
  }
  int To(HWND dialog) const {
    const auto it = counts_.find(dialog);
    return it == counts_.end() ? 0 : it->second;
  }
  // Pumps until a notice to `dialog` has come; false when none came in time.
  bool AwaitNoticeTo(HWND dialog, DWORD milliseconds) {
    const int before = To(dialog);
    return shell::PumpMessagesUntil([&] { return To(dialog) > before; }, milliseconds,
                                    Observer()) == shell::PumpResult::kDone;
  }
  void PumpFor(DWORD milliseconds) { shell::PumpMessagesFor(milliseconds, Observer()); }

 private:
  std::map<HWND, int> counts_;
};

const char* g_libraryArgument = nullptr;
const char* g_flipperArgument = nullptr;

TEST(HookFollowWine, AHookedProgramFollowsTheHostThroughARestart) {
  AccessViolationGuard guard;
  const std::wstring library = WindowsPath(g_libraryArgument);
  NoticeCounter notices;

  std::printf("first host: the flipper attaches armed\n");
  HostLife first;
  ASSERT_TRUE(first.Start(library));
  ChildProcess flipper;
  ASSERT_TRUE(
      flipper.Start(WindowsPath(g_flipperArgument).c_str(),
                    L"--seconds 900 --windows 1 --period-ms " + std::to_wstring(kFlipPeriodMs)));
  ASSERT_TRUE(notices.AwaitNoticeTo(first.dialog(), kFirstNoticeTimeoutMs));

  // As quickly as a host that restarts itself: a watchdog tick that falls between the two lives
  // finds the liveness value dead and retires for good (the notices would still follow).
  std::printf("the host ends, and a new one starts\n");
  first.End();
  HostLife second;
  ASSERT_TRUE(second.Start(library));
  const ULONGLONG restarted = GetTickCount64();
  EXPECT_TRUE(notices.AwaitNoticeTo(second.dialog(), kAtOnceMs));
  std::printf("  first notice to the new dialog after %llu ms\n",
              static_cast<unsigned long long>(GetTickCount64() - restarted));

  std::printf("past the flipper's watchdog tick: the notices still come\n");
  notices.PumpFor(kPastOneTickMs);
  EXPECT_TRUE(notices.AwaitNoticeTo(second.dialog(), kAtOnceMs));

  std::printf("the host is killed, its hook left behind, and a third one starts\n");
  second.Killed();
  HostLife third;
  ASSERT_TRUE(third.Start(library));
  EXPECT_TRUE(notices.AwaitNoticeTo(third.dialog(), kAtOnceMs));
  notices.PumpFor(kPastOneTickMs);
  // The flipper's watchdog followed the third host and took the dead host's hook away, which
  // would otherwise post every notice twice.
  EXPECT_FALSE(UnhookWindowsHookEx(second.hook.Hook())) << "the dead host's hook is still there";
  EXPECT_TRUE(notices.AwaitNoticeTo(third.dialog(), kAtOnceMs));

  std::printf("the third host's main window goes: the flipper's watchdog removes its hook\n");
  third.main.Reset();
  notices.PumpFor(kPastRemovalMs);
  EXPECT_FALSE(UnhookWindowsHookEx(third.hook.Hook())) << "the watchdog did not remove it";
  const int afterRemoval = notices.To(third.dialog());
  notices.PumpFor(3 * kFlipPeriodMs);
  EXPECT_EQ(notices.To(third.dialog()), afterRemoval) << "notices after the hook was removed";

  EXPECT_TRUE(flipper.Running()) << "the hooked program ended";
  third.End();
  second.End();
  EXPECT_TRUE(AccessViolationGuard::count() == 0);
  RemoveSettingsFile(contract::HookSettingsFile<wchar_t>);
}

// A window that takes WM_SETICON without passing it to the system: what the flood measures is then
// the hook, not the window manager's icon handling (an X server round trip under Wine).
LRESULT CALLBACK IgnoreIconsProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETICON) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeFloodWindow() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = IgnoreIconsProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"QuillonHookFollowFlood";
  RegisterClassExW(&wc);
  return CreateWindowExW(0, wc.lpszClassName, L"flooding", WS_OVERLAPPED, 0, 0, 50, 50, nullptr,
                         nullptr, wc.hInstance, nullptr);
}

// Takes everything out of this thread's queue and returns the notices to `dialog` among it. The
// rest is dispatched: a WM_PAINT that is only taken out comes back until the window has painted.
int DrainNoticesTo(HWND dialog) {
  int notices = 0;
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == contract::kNoticeMessage && msg.lParam == contract::kNoticeLParam) {
      notices += msg.hwnd == dialog ? 1 : 0;
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return notices;
}

// Sends `count` WM_SETICON to `window` from its own thread: the microseconds per call, and the
// notices that reached `dialog`. The queue is drained as they come (a queue holds only so many
// posted messages), outside the time measured.
struct Flood {
  double microseconds = 0;
  int notices = 0;
};

Flood SetIcons(HWND window, HWND dialog, int count) {
  Flood flood;
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  LONGLONG ticks = 0;
  for (int done = 0; done < count;) {
    const int batch = count - done < 512 ? count - done : 512;
    QueryPerformanceCounter(&before);
    for (int i = 0; i < batch; ++i) SendMessageW(window, WM_SETICON, ICON_SMALL, 0);
    QueryPerformanceCounter(&after);
    ticks += after.QuadPart - before.QuadPart;
    flood.notices += DrainNoticesTo(dialog);
    done += batch;
  }
  flood.microseconds =
      1e6 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart) / count;
  return flood;
}

TEST(HookFollowWine, SettingIconsInALoopWhileNoHostRunsStaysCheap) {
  AccessViolationGuard guard;
  const std::wstring copy =
      CopyToTemp(WindowsPath(g_libraryArgument), L"hook-follow", L"Flood.dll");
  auto chain = ShellChain::Create({.dialogTitle = contract::DialogTitle<wchar_t>});
  ASSERT_TRUE(chain != nullptr);
  DrainNoticesTo(nullptr);
  UniqueModule module(LoadLibraryW(copy.c_str()));
  ASSERT_TRUE(module);
  auto* procedure = reinterpret_cast<HOOKPROC>(
      reinterpret_cast<void*>(GetProcAddress(module.Get(), contract::kHookProcName)));
  ASSERT_TRUE(procedure != nullptr);
  UniqueHook hook(
      SetWindowsHookExW(contract::kHookType, procedure, module.Get(), GetCurrentThreadId()));
  ASSERT_TRUE(hook);
  UniqueWindow window(MakeFloodWindow());
  ASSERT_TRUE(window);

  constexpr int kCalls = 5000;
  const Flood withHost = SetIcons(window.Get(), chain->dialog(), kCalls);
  EXPECT_EQ(withHost.notices, kCalls);

  // Every walk now passes these before it meets a visible tray, or none.
  constexpr int kHiddenTrays = 300;
  std::vector<UniqueWindow> hidden;
  for (int i = 0; i < kHiddenTrays; ++i) {
    hidden.emplace_back(CreateWindowExW(0, contract::TrayClass<wchar_t>, L"", WS_POPUP, 0, 0, 1, 1,
                                        nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(hidden.back());
  }
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&before);
  HWND tray = nullptr;
  do {
    tray = FindWindowExW(nullptr, tray, contract::TrayClass<wchar_t>, nullptr);
  } while (tray != nullptr && !IsWindowVisible(tray));
  QueryPerformanceCounter(&after);
  const double walkUs = 1e6 * static_cast<double>(after.QuadPart - before.QuadPart) /
                        static_cast<double>(frequency.QuadPart);

  const HWND gone = chain->dialog();
  chain.reset();  // the host is gone
  const Flood withoutHost = SetIcons(window.Get(), gone, kCalls);
  std::printf(
      "WM_SETICON: %.1f us a call with a host, %.1f us with none; one walk past %d "
      "hidden trays: %.0f us\n",
      withHost.microseconds, withoutHost.microseconds, kHiddenTrays, walkUs);
  // A walk on every call would cost a walk a call; one per half second is lost in the calls.
  EXPECT_LT(withoutHost.microseconds, walkUs / 10);
  EXPECT_EQ(withoutHost.notices, 0);

  std::printf("a new host: the next WM_SETICON half a second later finds its dialog\n");
  auto next = ShellChain::Create({.dialogTitle = contract::DialogTitle<wchar_t>});
  ASSERT_TRUE(next != nullptr);
  Sleep(kRewalkMs + 100);
  SendMessageW(window.Get(), WM_SETICON, ICON_SMALL, 0);
  EXPECT_EQ(DrainNoticesTo(next->dialog()), 1);
  EXPECT_TRUE(AccessViolationGuard::count() == 0);
}

}  // namespace
}  // namespace quillon::test

int main(int argc, char** argv) {
  return quillon::test::RunAllTestsWithCleanRunLine(
      argc, argv, "hook_follow_wine <library> <icon flipper>",
      {&quillon::test::g_libraryArgument, &quillon::test::g_flipperArgument});
}
