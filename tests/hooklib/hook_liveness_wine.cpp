// The watchdog's judgement of the host, in one process. For each case a copy of the library
// attaches armed to a host of this process: its main window named by the liveness value, its
// shell chain, and a hook of this thread as the dialog's property (a message sent to a window of
// this thread shows whether that hook is still in place). A fault is laid on the copy's first
// tick: one step just before the tick is dispatched, one 300 ms after it. A look that fails once
// (the file emptied by a save, the folders missing until the host writes the file) leaves the
// hook alone, and the watchdog goes back to its period; the host gone for good takes the hook
// away at the confirmation, about a second after the tick. The folders are made by the tick's
// read where they are missing.
//
// Run once in the tests' prefix, and once in a prefix whose application-data folder has letters
// that the ANSI code page cannot spell ("outside-ansi"; tests/hooklib/outside_ansi_prefix.sh),
// where the folders must be made under their real names.
//
//   hook_liveness_wine <library> <plain | outside-ansi>
#include <windows.h>
// After windows.h, which it builds on.
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "host/contract.h"
#include "host/shell/message_pump.h"
#include "host/shell/shell_chain.h"
#include "host/win32_handles.h"
#include "tests/support/access_violation_guard.h"
#include "tests/support/clean_run.h"
#include "tests/support/plain_window.h"
#include "tests/support/settings_files.h"
#include "tests/support/test_paths.h"

namespace quillon::test {
namespace {

using shell::ShellChain;

constexpr DWORD kFirstTickWaitMs = contract::kWatchdogPeriodMs + 5000;
constexpr DWORD kFaultLastsMs = 300;
// A fault that lasts: the hook goes at the confirmation, not at the tick, and within a few
// seconds of it.
constexpr ULONGLONG kEarliestRemovalMs = 500;
constexpr DWORD kRemovalWaitMs = 8000;
// Well past the confirmation, and short of the period that follows it.
constexpr DWORD kPastConfirmationMs = 4000;
// The host gone after a confirmation that found it alive: the next tick and its confirmation.
constexpr DWORD kGoneWaitMs =
    contract::kWatchdogPeriodMs + contract::kLivenessConfirmDelayMs + 5000;

const char* g_libraryArgument = nullptr;
const char* g_appDataArgument = nullptr;

int g_hookCalls = 0;

LRESULT CALLBACK CountingHook(int code, WPARAM wParam, LPARAM lParam) {
  ++g_hookCalls;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool FolderExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether the ANSI code page spells the application-data folder's path.
bool AppDataFitsAnsi() {
  wchar_t appData[MAX_PATH] = {};
  if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData) != S_OK) {
    return false;
  }
  char narrow[4 * MAX_PATH];
  BOOL lost = FALSE;
  return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, appData, -1, narrow, sizeof narrow,
                             nullptr, &lost) != 0 &&
         !lost;
}

// A host in this process, watched by one copy of the library.
struct Host {
  UniqueWindow main;
  std::unique_ptr<ShellChain> chain;
  UniqueWindow probed;
  UniqueHook hook;  // stands for the host's hook: the dialog's property names it
  std::optional<FirmFolderSetAside> aside;

  bool Start() {
    main.Reset(MakePlainWindow(L"host main"));
    probed.Reset(MakePlainWindow(L"probed"));
    chain = ShellChain::Create({.dialogTitle = contract::DialogTitle<wchar_t>});
    hook.Reset(SetWindowsHookExW(contract::kHookType, CountingHook, nullptr, GetCurrentThreadId()));
    return main && probed && chain != nullptr && hook &&
           SetPropW(chain->dialog(), contract::HookProperty<wchar_t>, hook.Get()) &&
           WriteHostWindow(contract::HookSettingsFile<wchar_t>, main.Get());
  }
  bool HookInPlace() {
    const int before = g_hookCalls;
    SendMessageW(probed.Get(), WM_NULL, 0, 0);
    return g_hookCalls > before;
  }
};

void EmptyFile(Host&) { EXPECT_TRUE(EmptySettingsFile(contract::HookSettingsFile<wchar_t>)); }
void RemoveFile(Host&) { RemoveSettingsFile(contract::HookSettingsFile<wchar_t>); }
void RemoveFolders(Host& host) {
  host.aside.emplace();
  EXPECT_FALSE(FolderExists(FirmFolder()));
}
void RemoveMainWindow(Host& host) { host.main.Reset(); }
void WriteFile(Host& host) {
  EXPECT_TRUE(WriteHostWindow(contract::HookSettingsFile<wchar_t>, host.main.Get()));
}
void Nothing(Host&) {}

struct HostFaultCase {
  const char* name;
  void (*before)(Host& host);  // just before the tick
  void (*after)(Host& host);   // 300 ms after it
  bool hookStays;
};

// Counts the ticks of one copy's watchdog and lays the fault on the first one. Its ticks are the
// window-less WM_TIMER of a timer that no earlier copy had (those may still tick while they
// retire); a thread timer keeps its id when its period changes.
class Ticks {
 public:
  Ticks(Host& host, void (*fault)(Host&)) : host_(host), fault_(fault) {}
  ~Ticks() {
    if (timer_ != 0) earlierTimers_.insert(timer_);
  }
  Ticks(const Ticks&) = delete;
  Ticks& operator=(const Ticks&) = delete;

  shell::MessageObserver Observer() {
    return [this](const MSG& msg) {
      if (msg.message != WM_TIMER || msg.hwnd != nullptr) return;
      if (timer_ == 0 && earlierTimers_.count(msg.wParam) == 0) {
        timer_ = msg.wParam;
        fault_(host_);
        firstAt_ = GetTickCount64();
      }
      if (msg.wParam == timer_) ++count_;
    };
  }
  int count() const { return count_; }
  ULONGLONG firstAt() const { return firstAt_; }

 private:
  static inline std::set<WPARAM> earlierTimers_;
  Host& host_;
  void (*fault_)(Host&);
  WPARAM timer_ = 0;
  int count_ = 0;
  ULONGLONG firstAt_ = 0;
};

// Pumps until the hook is gone or `milliseconds` have passed; returns when it was seen gone
// (0: not gone).
ULONGLONG PumpUntilHookGone(Host& host, Ticks& ticks, DWORD milliseconds) {
  ULONGLONG goneAt = 0;
  shell::PumpMessagesUntil(
      [&] {
        if (!host.HookInPlace()) goneAt = GetTickCount64();
        return goneAt != 0;
      },
      milliseconds, ticks.Observer());
  return goneAt;
}

class HostFaultTest : public ::testing::TestWithParam<HostFaultCase> {};

TEST_P(HostFaultTest, OnlyAFailureThatLastsPastTheConfirmationRemovesTheHook) {
  AccessViolationGuard guard;
  const HostFaultCase& c = GetParam();
  Host host;
  ASSERT_TRUE(host.Start());
  ASSERT_TRUE(host.HookInPlace());
  const std::wstring copy =
      CopyToTemp(WindowsPath(g_libraryArgument), L"hook-liveness",
                 (std::wstring(c.name, c.name + std::strlen(c.name)) + L".dll").c_str());
  UniqueModule module(LoadLibraryW(copy.c_str()));
  ASSERT_TRUE(module);
  Ticks ticks(host, c.before);

  shell::PumpMessagesUntil([&] { return ticks.count() > 0; }, kFirstTickWaitMs, ticks.Observer());
  ASSERT_GT(ticks.count(), 0) << "the copy did not arm its watchdog";
  EXPECT_TRUE(FolderExists(AppFolder())) << "the tick's read did not make the folders";
  ULONGLONG goneAt = PumpUntilHookGone(host, ticks, kFaultLastsMs);
  c.after(host);
  if (c.hookStays) {
    if (goneAt == 0) goneAt = PumpUntilHookGone(host, ticks, kPastConfirmationMs);
    EXPECT_EQ(goneAt, 0u) << "the hook was removed " << goneAt - ticks.firstAt()
                          << " ms after the tick, although the host lives";
    // The confirmation, and then the period again.
    EXPECT_LE(ticks.count(), 3) << "the watchdog kept looking at the confirmation's pace";

    std::printf("  the host goes: its hook goes with it\n");
    host.main.Reset();
    const ULONGLONG gone = GetTickCount64();
    goneAt = PumpUntilHookGone(host, ticks, kGoneWaitMs);
    EXPECT_NE(goneAt, 0u) << "the hook stayed after the host had gone";
    if (goneAt != 0) std::printf("  removed %llu ms after the host went\n", goneAt - gone);
  } else {
    if (goneAt == 0) goneAt = PumpUntilHookGone(host, ticks, kRemovalWaitMs);
    ASSERT_NE(goneAt, 0u) << "the hook stayed after the host had gone";
    const ULONGLONG elapsed = goneAt - ticks.firstAt();
    std::printf("  removed %llu ms after the tick\n", elapsed);
    EXPECT_GE(elapsed, kEarliestRemovalMs) << "removed without confirming";
  }
  EXPECT_TRUE(AccessViolationGuard::count() == 0);
  host.aside.reset();
  RemoveSettingsFile(contract::HookSettingsFile<wchar_t>);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostFaultTest,
    ::testing::Values(HostFaultCase{"FileEmptiedDuringASave", EmptyFile, WriteFile, true},
                      HostFaultCase{"FoldersMissingUntilTheHostWrites", RemoveFolders, WriteFile,
                                    true},
                      HostFaultCase{"FileDeletedForGood", RemoveFile, Nothing, false},
                      HostFaultCase{"HostWindowGone", RemoveMainWindow, Nothing, false}),
    [](const auto& param) { return std::string(param.param.name); });

// Without it, a prefix that lost its redirected folder would pass the run that is there to try
// one.
TEST(HookLivenessWine, TheApplicationDataFolderIsTheOneThisRunIsFor) {
  const std::string wanted = g_appDataArgument;
  ASSERT_TRUE(wanted == "plain" || wanted == "outside-ansi") << "unknown folder kind " << wanted;
  EXPECT_EQ(AppDataFitsAnsi(), wanted == "plain")
      << "the application-data folder is not " << wanted;
}

}  // namespace
}  // namespace quillon::test

int main(int argc, char** argv) {
  return quillon::test::RunAllTestsWithCleanRunLine(
      argc, argv, "hook_liveness_wine <library> <plain | outside-ansi>",
      {&quillon::test::g_libraryArgument, &quillon::test::g_appDataArgument});
}
