// The stand-in host ends at once when it is closed while notices keep coming faster than it can
// serve them: WM_QUIT is taken only when no other posted message waits, so a host that waited for
// it served the notices (and started Sidecar64 again, once that had seen the dead handle and
// ended) for as long as they came.
//   host_standin_stop_wine_test <QuillonStandin.exe>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "host/client/win32_icon_hook.h"
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

TEST(StandinHost, EndsAtOnceWhenClosedWhileNoticesKeepComing) {
  SettingsBackup settings;
  ChildProcess host;
  ASSERT_TRUE(host.Start(WindowsPath(g_hostArgument).c_str(), L"--scan-ms 0"));
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
  // Sent, not posted: it is handled at the host's next GetMessage, not behind the backlog.
  EXPECT_NE(SendMessageTimeoutW(main, WM_CLOSE, 0, 0, SMTO_NORMAL, 20000, nullptr), 0);
  const long code = host.WaitForExit(std::chrono::seconds(20));
  flooding = false;
  flood.join();
  host.Stop();
  EXPECT_EQ(code, 0) << "-1: still running 20 s after WM_CLOSE";
  // It took Sidecar64 down with it.
  for (int i = 0; i < 50 && FindWindowW(contract::ReceiveClass<wchar_t>, nullptr) != nullptr; ++i) {
    Sleep(100);
  }
  EXPECT_EQ(FindWindowW(contract::ReceiveClass<wchar_t>, nullptr), nullptr);
  DestroyWindow(subject);
}

}  // namespace
}  // namespace quillon::test

int main(int argc, char** argv) {
  return quillon::test::RunAllTestsWithCleanRunLine(
      argc, argv, "host_standin_stop_wine_test <QuillonStandin.exe>",
      {&quillon::test::g_hostArgument});
}
