// Sidecar64 under load, with the shipped program and real processes.
//
// The coordinator (this program without arguments) starts Sidecar64, makes 100 requests of its
// own and takes Sidecar64's handle count and private bytes; then three requester processes
// (copies of this program under three names, so that each has an image path of its own) make
// 1000 "GetPath" requests each, all at once, alternating between a window of their own and one
// of the coordinator's. Every reply must arrive during its own request, at the requester that
// asked, for the window it asked about, with that window's image path. Afterwards Sidecar64's
// handle count and private bytes must be what they were after the first 100 requests.
//
//   proof_request_stress                                   coordinator
//   proof_request_stress --requester <assistant> <window> <count> <window's path>
#include <windows.h>

#include <gtest/gtest.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "harness/raw_requester.h"
#include "host/client/win32_assistant_process.h"
#include "host/client/win32_liveness.h"
#include "host/contract.h"
#include "tests/support/access_violation_guard.h"
#include "tests/support/clean_run.h"
#include "tests/support/process_usage.h"
#include "tests/support/settings_files.h"
#include "tests/support/test_paths.h"

namespace quillon::proof {
namespace {

constexpr int kRequesters = 3;
constexpr int kRequestsEach = 1000;
constexpr int kWarmUpRequests = 100;
constexpr wchar_t kStartEvent[] = L"QuillonProofStressStart";
constexpr DWORD kRunLimitMs = 600000;
// What Sidecar64 may gain between the two measurements without a leak being suspected: a handle
// or two of the system's own (Wine opens some lazily), and heap growth well below one byte per
// request per kilobyte leaked (3000 requests x 44 bytes already exceed it).
constexpr DWORD kHandleTolerance = 2;
constexpr SIZE_T kPrivateBytesTolerance = 128 * 1024;

using harness::Answer;
using harness::AnswerIs;
using harness::RawRequester;
using test::OwnPath;

// A window whose image path is asked for: any window of this process.
HWND MakeWindow(const wchar_t* title) {
  return CreateWindowExW(0, L"STATIC", title, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

HWND ParseWindow(const wchar_t* text) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::wcstoull(text, nullptr, 0)));
}

// ---- requester ------------------------------------------------------------------------------

// Exit code: the number of wrong or missing replies (0 when all were right).
int RunRequester(HWND assistant, HWND coordinatorWindow, int count,
                 const std::wstring& coordinatorPath) {
  test::AccessViolationGuard guard;
  RawRequester requester;
  const HWND own = MakeWindow(L"requester target");
  if (requester.window() == nullptr || own == nullptr) return 9000;
  const std::wstring ownPath = OwnPath();
  const HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, kStartEvent);
  if (start == nullptr || WaitForSingleObject(start, kRunLimitMs) != WAIT_OBJECT_0) return 9001;
  CloseHandle(start);

  int wrong = 0;
  for (int i = 0; i < count; ++i) {
    const bool askOwn = i % 2 == 0;
    const HWND target = askOwn ? own : coordinatorWindow;
    Answer reply;
    if (!requester.GetPath(assistant, target, reply) ||
        !AnswerIs(reply, target, askOwn ? ownPath : coordinatorPath)) {
      ++wrong;
    }
  }
  wrong += requester.strayReplies();
  DestroyWindow(own);
  return wrong + static_cast<int>(test::AccessViolationGuard::count()) * 1000;
}

// ---- coordinator ----------------------------------------------------------------------------

using Usage = test::ProcessUsage;

bool Measure(HANDLE process, DWORD processId, Usage& usage) {
  return test::MeasureProcess(process, processId, usage);
}

TEST(RequestStress, ThreeRequesterProcessesAtOnceGetEveryReplyRightAndNothingLeaks) {
  test::AccessViolationGuard guard;
  const HWND main = MakeWindow(L"stress host main");
  EXPECT_TRUE(main != nullptr);
  EXPECT_TRUE(WriteLivenessValue(main));

  AssistantProcess sidecar;
  ASSERT_TRUE(sidecar.Start(SIDECAR64_EXE, 30000)) << "Sidecar64 did not start";
  const HWND assistant = FindReceiveWindowOf(sidecar.ProcessId());
  const std::wstring ownPath = OwnPath();

  // Warm up, and prove the coordinator's own request path.
  RawRequester requester;
  int wrong = 0;
  for (int i = 0; i < kWarmUpRequests; ++i) {
    Answer reply;
    if (!requester.GetPath(assistant, main, reply) || !AnswerIs(reply, main, ownPath)) ++wrong;
  }
  EXPECT_TRUE(wrong == 0);
  Usage before;
  EXPECT_TRUE(Measure(sidecar.Handle(), sidecar.ProcessId(), before));

  const HANDLE start = CreateEventW(nullptr, TRUE, FALSE, kStartEvent);
  std::vector<PROCESS_INFORMATION> children;
  for (int i = 0; i < kRequesters; ++i) {
    const std::wstring name = L"proof_requester_" + std::to_wstring(i) + L".exe";
    const std::wstring copy = test::CopyToTemp(ownPath, L"quillon_proof_stress", name.c_str());
    EXPECT_TRUE(!copy.empty());
    std::wstring command = L"\"" + copy + L"\" --requester " +
                           std::to_wstring(reinterpret_cast<std::uintptr_t>(assistant)) + L" " +
                           std::to_wstring(reinterpret_cast<std::uintptr_t>(main)) + L" " +
                           std::to_wstring(kRequestsEach) + L" \"" + ownPath + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateProcessW(copy.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
      CloseHandle(info.hThread);
      children.push_back(info);
    }
  }
  EXPECT_TRUE(children.size() == kRequesters);
  const ULONGLONG began = GetTickCount64();
  SetEvent(start);

  for (std::size_t i = 0; i < children.size(); ++i) {
    DWORD code = 99999;
    if (WaitForSingleObject(children[i].hProcess, kRunLimitMs) == WAIT_OBJECT_0) {
      GetExitCodeProcess(children[i].hProcess, &code);
    } else {
      TerminateProcess(children[i].hProcess, 99999);
    }
    std::printf("requester %zu: exit code %lu (number of wrong replies)\n", i,
                static_cast<unsigned long>(code));
    EXPECT_TRUE(code == 0);
    CloseHandle(children[i].hProcess);
  }
  const ULONGLONG took = GetTickCount64() - began;
  std::printf("%d requests from %d processes at once in %llu ms\n", kRequesters * kRequestsEach,
              kRequesters, static_cast<unsigned long long>(took));
  CloseHandle(start);

  Usage after;
  EXPECT_TRUE(Measure(sidecar.Handle(), sidecar.ProcessId(), after));
  std::printf("Sidecar64 after %d requests: %lu handles, %zu private bytes\n", kWarmUpRequests,
              static_cast<unsigned long>(before.handles),
              static_cast<std::size_t>(before.privateBytes));
  std::printf("Sidecar64 after %d requests: %lu handles, %zu private bytes\n",
              kWarmUpRequests + kRequesters * kRequestsEach,
              static_cast<unsigned long>(after.handles),
              static_cast<std::size_t>(after.privateBytes));
  EXPECT_TRUE(after.handles <= before.handles + kHandleTolerance);
  EXPECT_TRUE(after.privateBytes <= before.privateBytes + kPrivateBytesTolerance);

  // Still serving, and it ends on request.
  Answer reply;
  EXPECT_TRUE(requester.GetPath(assistant, main, reply) && AnswerIs(reply, main, ownPath));
  EXPECT_TRUE(requester.Send(assistant, L"Exit", reply) && reply.count == 0);
  EXPECT_TRUE(sidecar.WaitForExit(20000));
  EXPECT_TRUE(sidecar.ExitCode() == 0);
  EXPECT_TRUE(requester.strayReplies() == 0);
  EXPECT_TRUE(test::AccessViolationGuard::count() == 0);
  // No later test may meet a value that names a window of a process that has ended.
  test::RemoveSettingsFile(contract::HookSettingsFile<wchar_t>);
  test::RemoveSettingsFile(contract::AssistantSettingsFile<wchar_t>);
  DestroyWindow(main);
}

}  // namespace
}  // namespace quillon::proof

int main(int argc, char** argv) {
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args != nullptr && count == 6 && std::wstring(args[1]) == L"--requester") {
    return quillon::proof::RunRequester(
        quillon::proof::ParseWindow(args[2]), quillon::proof::ParseWindow(args[3]),
        static_cast<int>(std::wcstol(args[4], nullptr, 10)), args[5]);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return quillon::test::RunAllTestsWithCleanRunLine();
}
