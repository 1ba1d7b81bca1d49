// End to end with real processes: this program is the stand-in host (default) and, started by
// itself with --child, the hooked program. The host builds the shell chain with its dialog,
// installs the library's HookProc for all threads, stores the hook on the dialog and drives the
// child through rounds in which the child's own thread sends WM_SETICON and WM_GETICON to its
// windows (a top-level window and a child window). Every phase that needs a fresh attach uses a
// copy of the library under another name, because a process attaches each module only once.
//
//   hook_e2e <library>          host
//   hook_e2e --child <window>   child, reporting to the host's control window
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
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
#include "tests/support/settings_files.h"
#include "tests/support/test_paths.h"

namespace quillon::test {
namespace {

using quillon::UniqueWindow;

constexpr UINT kChildReady = WM_APP + 1;  // child -> host: wParam = child's control window
constexpr UINT kRunRound = WM_APP + 2;    // host -> child: send the icon messages
constexpr UINT kRoundDone = WM_APP + 3;   // child -> host: wParam = top-level, lParam = child
constexpr UINT kQuit = WM_APP + 4;        // host -> child: end, exit code = access violations

constexpr DWORD kStartTimeoutMs = 300000;  // a 32-bit process start costs a minute or more here
constexpr DWORD kRoundTimeoutMs = 120000;  // the first round also maps the library
constexpr DWORD kPastOneTickMs = contract::kWatchdogPeriodMs + 1500;
// A host found gone is confirmed a second later before its hook goes.
constexpr DWORD kPastRemovalMs = kPastOneTickMs + contract::kLivenessConfirmDelayMs;

const wchar_t kWindowClass[] = L"QuillonHookE2E";

bool RegisterWindowClass(WNDPROC proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kWindowClass;
  return RegisterClassExW(&wc) != 0;
}

HWND MakeWindow(const wchar_t* title, DWORD style = WS_OVERLAPPEDWINDOW, HWND parent = nullptr) {
  return CreateWindowExW(0, kWindowClass, title, style, 0, 0, 200, 100, parent, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

// ---- child ----------------------------------------------------------------------------------

HWND g_host = nullptr;
UniqueWindow g_top, g_inner;

LRESULT CALLBACK ChildProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunRound) {
    if (!g_top) {
      g_top.Reset(MakeWindow(L"hooked top-level"));
      g_inner.Reset(MakeWindow(L"hooked child", WS_CHILD | WS_VISIBLE, g_top.Get()));
    }
    // Sent from the windows' own thread: only then does Wine run this thread's hook.
    SendMessageW(g_top.Get(), WM_SETICON, ICON_BIG, 0);
    SendMessageW(g_top.Get(), WM_SETICON, ICON_SMALL, 0);
    SendMessageW(g_inner.Get(), WM_SETICON, ICON_BIG, 0);
    SendMessageW(g_top.Get(), WM_GETICON, ICON_BIG, 0);
    PostMessageW(g_host, kRoundDone, reinterpret_cast<WPARAM>(g_top.Get()),
                 reinterpret_cast<LPARAM>(g_inner.Get()));
    return 0;
  }
  if (message == kQuit) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

int RunChild(const char* hostWindow) {
  AccessViolationGuard guard;
  g_host =
      reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::strtoull(hostWindow, nullptr, 0)));
  if (!RegisterWindowClass(ChildProc)) return 90;
  UniqueWindow control(MakeWindow(L"child control", 0));
  if (!control) return 91;
  PostMessageW(g_host, kChildReady, reinterpret_cast<WPARAM>(control.Get()), 0);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  g_inner.Reset();
  g_top.Reset();
  return static_cast<int>(AccessViolationGuard::count());
}

// ---- host -----------------------------------------------------------------------------------

struct Notice {
  HWND dialog;
  WPARAM window;
  bool operator==(const Notice&) const = default;
};

// Compares the notices of a round, printing both lists when they differ.
bool Same(const std::vector<Notice>& actual, const std::vector<Notice>& expected) {
  if (actual == expected) return true;
  const auto print = [](const char* label, const std::vector<Notice>& notices) {
    std::printf("  %s:", label);
    for (const Notice& n : notices) {
      std::printf(" (dialog %p, window %p)", static_cast<void*>(n.dialog),
                  reinterpret_cast<void*>(n.window));
    }
    std::printf("\n");
  };
  print("got", actual);
  print("expected", expected);
  return false;
}

class Host {
 public:
  bool Start();
  // One round in the child: the notices it caused, and its two windows.
  std::vector<Notice> Round();
  // Runs a round; true when it gave one notice per WM_SETICON to `dialog` (none when null).
  bool RoundNotifies(HWND dialog) {
    const std::vector<Notice> notices = Round();
    const auto top = reinterpret_cast<WPARAM>(top_), inner = reinterpret_cast<WPARAM>(inner_);
    if (dialog == nullptr) return Same(notices, {});
    return Same(notices, {{dialog, top}, {dialog, top}, {dialog, inner}});
  }
  void PumpPastOneTick() { shell::PumpMessagesFor(kPastOneTickMs, Observer()); }
  void PumpPastRemoval() { shell::PumpMessagesFor(kPastRemovalMs, Observer()); }
  int StopChild();

  HWND main() const { return main_.Get(); }

 private:
  shell::MessageObserver Observer() {
    return [this](const MSG& msg) {
      if (msg.message == contract::kNoticeMessage && msg.lParam == contract::kNoticeLParam) {
        notices_.push_back({msg.hwnd, msg.wParam});
      } else if (msg.message == kChildReady) {
        child_ = reinterpret_cast<HWND>(msg.wParam);
      } else if (msg.message == kRoundDone) {
        top_ = reinterpret_cast<HWND>(msg.wParam);
        inner_ = reinterpret_cast<HWND>(msg.lParam);
        roundDone_ = true;
      }
    };
  }

  UniqueWindow main_;  // stands in for the host's main window named by "Handle"
  HWND child_ = nullptr, top_ = nullptr, inner_ = nullptr;
  ChildProcess process_;
  std::vector<Notice> notices_;
  bool roundDone_ = false;
};

bool Host::Start() {
  main_.Reset(MakeWindow(L"host main", 0));
  if (!main_) return false;
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (!process_.Start(
          self, L"--child " + std::to_wstring(reinterpret_cast<std::uintptr_t>(main_.Get())))) {
    return false;
  }
  const auto started =
      shell::PumpMessagesUntil([this] { return child_ != nullptr; }, kStartTimeoutMs, Observer());
  return started == shell::PumpResult::kDone;
}

std::vector<Notice> Host::Round() {
  notices_.clear();
  roundDone_ = false;
  PostMessageW(child_, kRunRound, 0, 0);
  // The child posts its notices before it posts kRoundDone, and all of them land in this
  // thread's queue, so every notice of the round has arrived when kRoundDone does.
  const auto result =
      shell::PumpMessagesUntil([this] { return roundDone_; }, kRoundTimeoutMs, Observer());
  EXPECT_TRUE(result == shell::PumpResult::kDone);
  return notices_;
}

// The child's exit code (its access violations), or -1 when it did not end within a minute
// (it is ended then) or never started.
int Host::StopChild() {
  if (process_.ProcessId() == 0) return -1;
  PostMessageW(child_, kQuit, 0, 0);
  const long exitCode = process_.WaitForExit(std::chrono::seconds(60));
  process_.Stop();
  return static_cast<int>(exitCode);
}

void StoreHookOn(HWND dialog, HHOOK hook) {
  SetPropW(dialog, contract::HookProperty<wchar_t>, reinterpret_cast<HANDLE>(hook));
}

// The unload path in this process: attach arms the timer on this thread and a tick runs. Then
// FreeLibrary on this thread: the armed watchdog holds the module, so the ticks go on, neither
// faulting nor running freed code (hook_unload_wine follows the module until it leaves).
void CheckUnload(const std::wstring& path, HWND hostMain) {
  EXPECT_TRUE(WriteHostWindow(contract::HookSettingsFile<wchar_t>, hostMain));
  HMODULE module = LoadLibraryW(path.c_str());
  EXPECT_TRUE(module != nullptr);
  // No other library copy armed a watchdog in this process, and the program starts no thread
  // timer of its own: every window-less WM_TIMER here is this copy's. (Wine puts a handle of
  // its own, not the procedure's address, into lParam.)
  int ticks = 0;
  const auto countTicks = [&](const MSG& msg) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr) ++ticks;
  };
  shell::PumpMessagesFor(kPastOneTickMs, countTicks);
  EXPECT_TRUE(ticks >= 1);  // the watchdog was armed, on this thread

  const long violationsBefore = AccessViolationGuard::count();
  EXPECT_TRUE(FreeLibrary(module));
  ticks = 0;
  shell::PumpMessagesFor(kPastOneTickMs, countTicks);
  EXPECT_TRUE(ticks >= 1);
  EXPECT_TRUE(GetModuleHandleW(path.c_str()) == module);
  EXPECT_TRUE(AccessViolationGuard::count() == violationsBefore);
}

// The library under test, from the command line.
const char* g_libraryArgument = nullptr;

TEST(HookE2E, NoticesWatchdogAndUnloadAcrossProcesses) {
  AccessViolationGuard guard;
  const std::wstring library = WindowsPath(g_libraryArgument);
  ASSERT_TRUE(RegisterWindowClass(DefWindowProcW));

  Host host;
  auto chain = shell::ShellChain::Create({.dialogTitle = contract::DialogTitle<wchar_t>});
  ASSERT_TRUE(chain != nullptr);
  HWND dialog = chain->dialog();

  // Phase 1: the host is alive; the child's attach arms its watchdog.
  std::printf("phase 1: notices, live host survives a tick\n");
  EXPECT_TRUE(host.Start());
  EXPECT_TRUE(WriteHostWindow(contract::HookSettingsFile<wchar_t>, host.main()));
  IconHook first;
  EXPECT_TRUE(first.Install(dialog, library) == HookStatus::kInstalled);
  EXPECT_TRUE(host.RoundNotifies(dialog));
  host.PumpPastOneTick();
  EXPECT_TRUE(host.RoundNotifies(dialog));

  // Phase 2: the liveness value in hexadecimal reads as 0, so the child removes the hook.
  std::printf("phase 2: hexadecimal value removes the hook\n");
  wchar_t hex[32];
  std::swprintf(hex, 32, L"0x%x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(host.main())));
  EXPECT_TRUE(WriteSettingsFile(contract::HookSettingsFile<wchar_t>, hex));
  host.PumpPastRemoval();
  EXPECT_TRUE(host.RoundNotifies(nullptr));
  EXPECT_TRUE(!UnhookWindowsHookEx(first.Hook()));  // already removed by the watchdog

  // Phase 3: a fresh copy attaches armed; with no settings file the hook goes at the next tick
  // and its confirmation.
  std::printf("phase 3: no settings file removes the hook\n");
  RemoveSettingsFile(contract::HookSettingsFile<wchar_t>);
  first.Remove();
  IconHook second;
  EXPECT_TRUE(second.Install(dialog, CopyToTemp(library, L"hook-e2e", L"Second.dll")) ==
              HookStatus::kInstalled);
  EXPECT_TRUE(host.RoundNotifies(dialog));
  host.PumpPastRemoval();
  EXPECT_TRUE(host.RoundNotifies(nullptr));
  EXPECT_TRUE(!UnhookWindowsHookEx(second.Hook()));

  // Phase 4: both titles present: the "Wendril" dialog gets the notices and no watchdog runs,
  // although the host is gone and the "Quillon" dialog carries the property too.
  std::printf("phase 4: alternative dialog, no watchdog\n");
  HWND alt = chain->AddDialog(contract::DialogTitleAlt<wchar_t>);
  EXPECT_TRUE(alt != nullptr);
  second.Remove();
  IconHook third;
  EXPECT_TRUE(third.Install(alt, CopyToTemp(library, L"hook-e2e", L"Third.dll")) ==
              HookStatus::kInstalled);
  StoreHookOn(dialog, third.Hook());
  EXPECT_TRUE(host.RoundNotifies(alt));
  host.PumpPastOneTick();
  EXPECT_TRUE(host.RoundNotifies(alt));
  EXPECT_TRUE(UnhookWindowsHookEx(third.Hook()));
  EXPECT_TRUE(host.StopChild() == 0);  // the child saw no access violation

  // Phase 5: a new chain whose visible tray sits behind a hidden one; the unload path.
  std::printf("phase 5: hidden tray first, unload keeps the armed module\n");
  chain->HideTray();
  auto second_chain = shell::ShellChain::Create(
      {.dialogTitle = contract::DialogTitle<wchar_t>, .hiddenTrayFirst = true});
  EXPECT_TRUE(second_chain != nullptr);
  if (second_chain != nullptr) {
    EXPECT_TRUE(FindWindowW(contract::TrayClass<wchar_t>, nullptr) == second_chain->hiddenTray());
    StoreHookOn(second_chain->dialog(), third.Hook());
    CheckUnload(CopyToTemp(library, L"hook-e2e", L"Unload.dll"), host.main());
  }

  EXPECT_TRUE(AccessViolationGuard::count() == 0);
  RemoveSettingsFile(contract::HookSettingsFile<wchar_t>);
}

}  // namespace
}  // namespace quillon::test

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--child") return quillon::test::RunChild(argv[2]);
  return quillon::test::RunAllTestsWithCleanRunLine(
      argc, argv, "hook_e2e <library> | --child <window>", {&quillon::test::g_libraryArgument});
}
