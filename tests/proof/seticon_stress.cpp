// A flood of icon changes through the shipped 32-bit Tallyhook, across real processes.
//
// The host (this program with the library's path) builds the shell chain with a "Quillon"
// dialog, writes its liveness value and installs the hook through the client's IconHook. The
// child (this program again, with --child) makes a top-level window and a child window and has
// its own thread send WM_SETICON to them <count> times (every hundredth to the top-level
// window), with a WM_GETICON after every tenth. Afterwards the child and the host must
// both still run, the host must have received exactly one notice per WM_SETICON, each with lParam
// 0x80 and one of the child's two windows as wParam, and neither process may have seen an access
// violation.
//
//   proof_seticon_stress <library> <count>          host
//   proof_seticon_stress --child <host window> <count>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

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

namespace quillon::proof {
namespace {

using quillon::UniqueWindow;

constexpr UINT kChildReady = WM_APP + 1;  // child -> host: wParam top-level, lParam child window
constexpr UINT kChildDone = WM_APP + 2;   // child -> host: wParam = WM_SETICON sent
constexpr UINT kQuit = WM_APP + 3;        // host -> child: end; exit code = access violations

constexpr DWORD kStartLimitMs = 300000;
constexpr DWORD kFloodLimitMs = 1800000;
constexpr DWORD kDrainLimitMs = 60000;

const wchar_t kWindowClass[] = L"QuillonProofIconStress";

bool RegisterWindowClass() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kWindowClass;
  return RegisterClassExW(&wc) != 0;
}

HWND MakeWindow(const wchar_t* title, DWORD style, HWND parent = nullptr) {
  return CreateWindowExW(0, kWindowClass, title, style, 0, 0, 200, 100, parent, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

// ---- child ----------------------------------------------------------------------------------

int RunChild(HWND host, unsigned count) {
  test::AccessViolationGuard guard;
  if (!RegisterWindowClass()) return 90;
  UniqueWindow top(MakeWindow(L"icon stress top-level", WS_OVERLAPPEDWINDOW));
  UniqueWindow inner(MakeWindow(L"icon stress child", WS_CHILD | WS_VISIBLE, top.Get()));
  if (!top || !inner) return 91;
  PostMessageW(host, kChildReady, reinterpret_cast<WPARAM>(top.Get()),
               reinterpret_cast<LPARAM>(inner.Get()));
  const HICON icons[] = {LoadIconW(nullptr, IDI_APPLICATION), LoadIconW(nullptr, IDI_WARNING)};
  for (unsigned i = 0; i < count; ++i) {
    // Sent from the windows' own thread: only then does the hook run for them.
    // Mostly the child window: for a top-level window the system also hands the icon to the
    // window manager, which costs far more than the hook and would only measure that.
    const HWND window = i % 100 == 99 ? top.Get() : inner.Get();
    SendMessageW(window, WM_SETICON, i % 4 < 2 ? ICON_BIG : ICON_SMALL,
                 reinterpret_cast<LPARAM>(icons[i % 2]));
    if (i % 10 == 9) SendMessageW(window, WM_GETICON, ICON_BIG, 0);
  }
  PostMessageW(host, kChildDone, count, 0);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == kQuit) break;
    DispatchMessageW(&msg);
  }
  return static_cast<int>(test::AccessViolationGuard::count());
}

// ---- host -----------------------------------------------------------------------------------

struct Tally {
  HWND dialog = nullptr;
  HWND top = nullptr, inner = nullptr;
  bool done = false;
  unsigned sent = 0;
  unsigned notices = 0;
  unsigned corrupted = 0;
};

unsigned ParseCount(const char* text) {
  return static_cast<unsigned>(std::strtoul(text, nullptr, 10));
}

// The library under test and the number of WM_SETICON, from the command line.
const char* g_libraryArgument = nullptr;
const char* g_countArgument = nullptr;

TEST(SeticonStress, EveryIconChangeOfAFloodGivesExactlyOneNotice) {
  const std::wstring library = test::WindowsPath(g_libraryArgument);
  const unsigned count = ParseCount(g_countArgument);
  test::AccessViolationGuard guard;
  ASSERT_TRUE(RegisterWindowClass());
  UniqueWindow main(MakeWindow(L"icon stress host main", 0));
  EXPECT_TRUE(main && test::WriteHostWindow(contract::HookSettingsFile<wchar_t>, main.Get()));
  shell::ShellChainOptions options;
  options.dialogTitle = contract::DialogTitle<wchar_t>;
  const auto chain = shell::ShellChain::Create(options);
  if (!chain) FAIL() << "no shell chain";
  Tally tally;
  tally.dialog = chain->dialog();

  IconHook hook;
  const HookStatus installed = hook.Install(tally.dialog, library);
  if (installed != HookStatus::kInstalled) {
    FAIL() << std::string(library.begin(), library.end()) << ": " << Describe(installed);
  }

  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  test::ChildProcess child;
  if (!child.Start(self, L"--child " +
                             std::to_wstring(reinterpret_cast<std::uintptr_t>(main.Get())) + L" " +
                             std::to_wstring(count))) {
    FAIL() << "cannot start the child";
  }

  const auto observe = [&tally](const MSG& msg) {
    if (msg.message == kChildReady) {
      tally.top = reinterpret_cast<HWND>(msg.wParam);
      tally.inner = reinterpret_cast<HWND>(msg.lParam);
    } else if (msg.message == kChildDone) {
      tally.done = true;
      tally.sent = static_cast<unsigned>(msg.wParam);
    } else if (msg.message == contract::kNoticeMessage && msg.hwnd == tally.dialog) {
      const auto window = reinterpret_cast<HWND>(msg.wParam);
      if (msg.wParam == 0 && msg.lParam == 0) return;  // the dialog's own paint
      if (msg.lParam == contract::kNoticeLParam && (window == tally.top || window == tally.inner)) {
        ++tally.notices;
      } else {
        ++tally.corrupted;
      }
    }
  };
  const ULONGLONG began = GetTickCount64();
  const auto started =
      shell::PumpMessagesUntil([&] { return tally.top != nullptr; }, kStartLimitMs, observe);
  EXPECT_TRUE(started == shell::PumpResult::kDone);
  const ULONGLONG flooding = GetTickCount64();
  const auto flooded = shell::PumpMessagesUntil([&] { return tally.done; }, kFloodLimitMs, observe);
  EXPECT_TRUE(flooded == shell::PumpResult::kDone);
  const ULONGLONG took = GetTickCount64() - flooding;
  // Every notice was posted before kChildDone, so all have arrived; pump a little longer anyway
  // to catch anything that would come late.
  shell::PumpMessagesUntil([&] { return tally.notices >= count; }, kDrainLimitMs, observe);
  shell::PumpMessagesFor(500, observe);

  std::printf(
      "child start %llu ms; %u WM_SETICON in %llu ms (%.0f per second); %u notices, "
      "%u corrupted\n",
      static_cast<unsigned long long>(flooding - began), tally.sent,
      static_cast<unsigned long long>(took),
      took ? 1000.0 * tally.sent / static_cast<double>(took) : 0.0, tally.notices, tally.corrupted);
  EXPECT_TRUE(tally.sent == count);
  EXPECT_TRUE(tally.notices == count);
  EXPECT_TRUE(tally.corrupted == 0);
  EXPECT_TRUE(child.Running());
  EXPECT_TRUE(IsWindow(tally.top) && IsWindow(tally.inner));

  PostMessageW(tally.top, kQuit, 0, 0);
  // -1 when it did not end within two minutes; it is ended then.
  const long exitCode = child.WaitForExit(std::chrono::seconds(120));
  child.Stop();
  EXPECT_TRUE(exitCode == 0);  // no access violation in the child
  hook.Remove();
  // Leave no liveness value of a dead window to later tests.
  test::RemoveSettingsFile(contract::HookSettingsFile<wchar_t>);
  EXPECT_TRUE(test::AccessViolationGuard::count() == 0);
}

}  // namespace
}  // namespace quillon::proof

int main(int argc, char** argv) {
  using namespace quillon::proof;
  if (argc == 4 && std::string(argv[1]) == "--child") {
    return RunChild(
        reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::strtoull(argv[2], nullptr, 10))),
        ParseCount(argv[3]));
  }
  return quillon::test::RunAllTestsWithCleanRunLine(
      argc, argv, "proof_seticon_stress <library> <count>", {&g_libraryArgument, &g_countArgument});
}
