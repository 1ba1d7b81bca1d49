// The stand-in host ends at once when it is closed, or finds its stop file, while notices keep
// coming faster than it can serve them. WM_QUIT and WM_TIMER are taken only when no other posted
// message waits: a host that waited for WM_QUIT served the notices (and started Sidecar64 again,
// once that had seen the dead handle and ended) for as long as they came, and one that looked for
// its stop file only on WM_TIMER never looked.
// A second stand-in host started beside the first leaves the first's "Handle", hook and Sidecar64
// alone and ends at once.
//   host_standin_stop_wine_test <QuillonStandin.exe>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "host/client/win32_assistant_process.h"
#include "host/client/win32_icon_hook.h"
#include "host/client/win32_liveness.h"
#include "host/contract.h"
#include "tests/support/child_process.h"
#include "tests/support/clean_run.h"
#include "tests/support/settings_files.h"
#include "tests/support/test_paths.h"

namespace quillon::test {
namespace {

const char* g_hostArgument = nullptr;

HWND WaitForDialog(const ChildProcess& host, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (host.Running() && std::chrono::steady_clock::now() < end) {
    const HWND dialog = FindHostDialog();
    if (dialog != nullptr) return dialog;
    Sleep(100);
  }
  return nullptr;
}

// How the host is asked to end.
enum class Stop { kClosed, kStopFile };

class StandinHostUnderNotices : public ::testing::TestWithParam<Stop> {};

TEST_P(StandinHostUnderNotices, EndsAtOnceWhileNoticesKeepComing) {
  SettingsBackup settings;
  wchar_t temp[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring stop_file = std::wstring(temp) + L"quillon_standin_stop.txt";
  DeleteFileW(stop_file.c_str());
  ChildProcess host;
  ASSERT_TRUE(host.Start(WindowsPath(g_hostArgument).c_str(),
                         L"--scan-ms 0 --stop-file \"" + stop_file + L"\""));
  const HWND dialog = WaitForDialog(host, std::chrono::seconds(60));
  ASSERT_NE(dialog, nullptr) << "the host showed no dialog";
  const HWND main = host.FindWindowOf(L"QuillonStandinMain", std::chrono::seconds(10));
  ASSERT_NE(main, nullptr);
  const HWND subject = CreateWindowExW(0, L"STATIC", L"notice subject", WS_POPUP, 0, 0, 0, 0,
                                       nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(subject, nullptr);

  // Far more notices than the host can serve (each one is a request to Sidecar64).
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    while (flooding) {
      for (int i = 0; i < 50; ++i) {
        PostMessageW(dialog, contract::kNoticeMessage, reinterpret_cast<WPARAM>(subject),
                     contract::kNoticeLParam);
      }
      Sleep(1);
    }
  });
  Sleep(3000);
  if (GetParam() == Stop::kClosed) {
    // Sent, not posted: it is handled at the host's next GetMessage, not behind the backlog.
    EXPECT_NE(SendMessageTimeoutW(main, WM_CLOSE, 0, 0, SMTO_NORMAL, 20000, nullptr), 0);
  } else {
    const HANDLE file = CreateFileW(stop_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
  }
  const long code = host.WaitForExit(std::chrono::seconds(20));
  flooding = false;
  flood.join();
  host.Stop();
  DeleteFileW(stop_file.c_str());
  EXPECT_EQ(code, 0) << "-1: still running 20 s after it was asked to end";
  // It took Sidecar64 down with it.
  for (int i = 0; i < 50 && FindWindowW(contract::ReceiveClass<wchar_t>, nullptr) != nullptr; ++i) {
    Sleep(100);
  }
  EXPECT_EQ(FindWindowW(contract::ReceiveClass<wchar_t>, nullptr), nullptr);
  DestroyWindow(subject);
}

std::wstring LivenessValueIn(const wchar_t* file_name) {
  wchar_t value[64] = {};
  GetPrivateProfileStringW(contract::LivenessSection<wchar_t>, contract::LivenessKey<wchar_t>, L"",
                           value, 64, SettingsFilePath(file_name).c_str());
  return value;
}

// What the first host has set up, as the companions see it.
struct HostState {
  std::wstring hook_value, assistant_value;
  HANDLE hook = nullptr;
  std::vector<DWORD> assistants;
  bool operator==(const HostState&) const = default;
};

HostState StateOf(HWND dialog) {
  return {LivenessValueIn(contract::HookSettingsFile<wchar_t>),
          LivenessValueIn(contract::AssistantSettingsFile<wchar_t>),
          GetPropW(dialog, contract::HookProperty<wchar_t>), AssistantProcessIds()};
}

TEST(StandinHostTwice, SecondLeavesTheFirstAlone) {
  SettingsBackup settings;
  ChildProcess first;
  ASSERT_TRUE(first.Start(WindowsPath(g_hostArgument).c_str(), L"--scan-ms 0"));
  const HWND dialog = WaitForDialog(first, std::chrono::seconds(60));
  ASSERT_NE(dialog, nullptr) << "the first host showed no dialog";
  const HWND main = first.FindWindowOf(L"QuillonStandinMain", std::chrono::seconds(10));
  ASSERT_NE(main, nullptr);
  for (int i = 0; i < 300 && AssistantProcessIds().empty(); ++i) Sleep(100);
  const HostState before = StateOf(dialog);
  ASSERT_EQ(before.hook_value, LivenessText(main));
  ASSERT_NE(before.hook, nullptr);
  ASSERT_EQ(before.assistants.size(), 1u) << "the first host's Sidecar64 did not start";

  ChildProcess second;
  ASSERT_TRUE(second.Start(WindowsPath(g_hostArgument).c_str(), L"--scan-ms 0"));
  EXPECT_EQ(second.WaitForExit(std::chrono::seconds(60)), 3) << "not told that another host runs";
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(StateOf(dialog), before) << "the second host changed the first one's setup";
  EXPECT_EQ(FindHostDialog(), dialog);

  EXPECT_NE(SendMessageTimeoutW(main, WM_CLOSE, 0, 0, SMTO_NORMAL, 20000, nullptr), 0);
  EXPECT_EQ(first.WaitForExit(std::chrono::seconds(20)), 0);
}

INSTANTIATE_TEST_SUITE_P(ClosedOrStopFile, StandinHostUnderNotices,
                         ::testing::Values(Stop::kClosed, Stop::kStopFile));

}  // namespace
}  // namespace quillon::test

int main(int argc, char** argv) {
  return quillon::test::RunAllTestsWithCleanRunLine(
      argc, argv, "host_standin_stop_wine_test <QuillonStandin.exe>",
      {&quillon::test::g_hostArgument});
}
