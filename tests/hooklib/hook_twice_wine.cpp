// Two hooks of the library's one procedure in this thread's chain, as under Wine after a host was
// killed (Wine keeps its hook) and a new one hooked again: the procedure runs twice per message,
// the second time inside the first one's CallNextHookEx. Each WM_SETICON must still give exactly
// one notice, and the chain must still reach a hook behind both.
//
//   hook_twice_wine <library>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
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

const char* g_libraryArgument = nullptr;

// The hook installed first, so the last in the chain: it sees every message both copies passed
// on.
int g_behindSetIcons = 0;
LRESULT CALLBACK BehindProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code >= 0 && reinterpret_cast<const CWPRETSTRUCT*>(lParam)->message == WM_SETICON) {
    ++g_behindSetIcons;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct UnhookOnExit {
  HHOOK hook;
  ~UnhookOnExit() {
    if (hook != nullptr) UnhookWindowsHookEx(hook);
  }
};

TEST(HookTwiceWine, TwoHooksOfTheProcedureGiveOneNoticePerIconChange) {
  AccessViolationGuard guard;
  EXPECT_TRUE(WriteSettingsFile(contract::HookSettingsFile<wchar_t>, L"0"));
  // No hook property: the copy arms no watchdog, so nothing removes a hook meanwhile.
  const auto chain = shell::ShellChain::Create({.dialogTitle = contract::DialogTitle<wchar_t>});
  ASSERT_TRUE(chain != nullptr);
  const std::wstring copy = CopyToTemp(WindowsPath(g_libraryArgument), L"hook-twice", L"T.dll");
  HMODULE module = LoadLibraryW(copy.c_str());
  ASSERT_TRUE(module != nullptr);
  auto proc = reinterpret_cast<HOOKPROC>(
      reinterpret_cast<void*>(GetProcAddress(module, contract::kHookProcName)));
  ASSERT_TRUE(proc != nullptr);

  const DWORD thread = GetCurrentThreadId();
  const UnhookOnExit behind{SetWindowsHookExW(contract::kHookType, BehindProc, nullptr, thread)};
  UnhookOnExit killedHosts{SetWindowsHookExW(contract::kHookType, proc, module, thread)};
  const UnhookOnExit newHosts{SetWindowsHookExW(contract::kHookType, proc, module, thread)};
  ASSERT_TRUE(behind.hook && killedHosts.hook && newHosts.hook);

  UniqueWindow first(MakePlainWindow(L"first"));
  UniqueWindow second(MakePlainWindow(L"second"));
  int notices = 0, forFirst = 0;
  const auto observe = [&](const MSG& msg) {
    if (msg.message != contract::kNoticeMessage || msg.lParam != contract::kNoticeLParam) return;
    EXPECT_TRUE(msg.hwnd == chain->dialog());
    ++notices;
    forFirst += msg.wParam == reinterpret_cast<WPARAM>(first.Get()) ? 1 : 0;
  };
  constexpr int kChanges = 3;
  for (int i = 0; i < kChanges; ++i) {
    SendMessageW(first.Get(), WM_SETICON, ICON_BIG, 0);
    SendMessageW(second.Get(), WM_SETICON, ICON_SMALL, 0);
  }
  SendMessageW(first.Get(), WM_GETICON, ICON_BIG, 0);
  shell::PumpMessagesFor(500, observe);

  std::printf("%d notices for %d icon changes\n", notices, 2 * kChanges);
  EXPECT_EQ(notices, 2 * kChanges);
  EXPECT_EQ(forFirst, kChanges);
  EXPECT_EQ(g_behindSetIcons, 2 * kChanges) << "the chain behind the two hooks was cut";

  // One of them gone (the watchdog of a program that follows the new host removes it): still one
  // notice each, and none lost.
  EXPECT_TRUE(UnhookWindowsHookEx(killedHosts.hook));
  killedHosts.hook = nullptr;
  notices = 0;
  SendMessageW(first.Get(), WM_SETICON, ICON_BIG, 0);
  shell::PumpMessagesFor(500, observe);
  EXPECT_EQ(notices, 1);

  EXPECT_TRUE(AccessViolationGuard::count() == 0);
  RemoveSettingsFile(contract::HookSettingsFile<wchar_t>);
}

}  // namespace
}  // namespace quillon::test

int main(int argc, char** argv) {
  return quillon::test::RunAllTestsWithCleanRunLine(argc, argv, "hook_twice_wine <library>",
                                                    {&quillon::test::g_libraryArgument});
}
