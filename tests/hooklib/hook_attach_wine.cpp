// The attach routine against real windows, in one process: each scenario builds its window tree,
// loads a fresh copy of the library (a copy attaches anew), hooks this thread with the copy's
// HookProc and sends WM_SETICON and WM_GETICON to a window of this thread. None of these
// scenarios may arm a watchdog, which a final pump past one period checks.
//
//   hook_attach_wine <library>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/contract.h"
#include "host/shell/message_pump.h"
#include "host/shell/shell_chain.h"
#include "host/win32_handles.h"
#include "tests/support/access_violation_guard.h"
#include "tests/support/clean_run.h"
#include "tests/support/settings_files.h"
#include "tests/support/test_paths.h"

namespace quillon::test {
namespace {

using shell::ShellChain;

struct Scenario {
  const wchar_t* name;
  // Builds the tree (the chains stay alive until the end) and returns the dialog that must get
  // the notice, or null when none must.
  std::function<HWND(std::vector<std::unique_ptr<ShellChain>>&)> build;
  // Runs after the copy has attached.
  std::function<void(HWND dialog)> afterAttach = {};
};

ShellChain* Add(std::vector<std::unique_ptr<ShellChain>>& chains,
                const shell::ShellChainOptions& o) {
  // Earlier chains step aside, so that the new one is the first visible tray.
  for (auto& chain : chains) chain->HideTray();
  chains.push_back(ShellChain::Create(o));
  return chains.back().get();
}

void StoreHook(HWND dialog) {
  SetPropW(dialog, contract::HookProperty<wchar_t>, reinterpret_cast<HANDLE>(0xB00C));
}

const Scenario kScenarios[] = {
    {L"NoVisibleTray",
     [](auto& chains) {
       ShellChain* chain = Add(chains, {.dialogTitle = contract::DialogTitle<wchar_t>});
       StoreHook(chain->dialog());
       chain->HideTray();
       return static_cast<HWND>(nullptr);
     }},
    {L"DialogOneLevelTooDeep",
     [](auto& chains) {
       ShellChain* chain = Add(chains, {});
       HWND deeper = chain->AddDialog(L"between");
       StoreHook(chain->AddDialog(contract::DialogTitle<wchar_t>, deeper));
       return static_cast<HWND>(nullptr);
     }},
    {L"DialogWithoutProperty",
     [](auto& chains) {
       return Add(chains, {.dialogTitle = contract::DialogTitle<wchar_t>})->dialog();
     },
     // Set too late: this copy has attached already and keeps running without a watchdog.
     [](HWND dialog) { StoreHook(dialog); }},
    {L"AltDialogWithProperty",
     [](auto& chains) {
       HWND dialog = Add(chains, {.dialogTitle = contract::DialogTitleAlt<wchar_t>})->dialog();
       StoreHook(dialog);
       return dialog;
     }},
    {L"AltDialogBehindHiddenTray",
     [](auto& chains) {
       ShellChain* chain =
           Add(chains, {.dialogTitle = contract::DialogTitleAlt<wchar_t>, .hiddenTrayFirst = true});
       return chain->dialog();
     }},
};

struct Notice {
  HWND dialog;
  WPARAM window;
};

// The library under test, from the command line.
const char* g_libraryArgument = nullptr;

TEST(HookAttachWine, EachScenarioNotifiesOnlyItsDialogAndNoneArmsAWatchdog) {
  AccessViolationGuard guard;
  const std::wstring library = WindowsPath(g_libraryArgument);
  // A dead host: any watchdog that ran would remove hooks.
  EXPECT_TRUE(WriteSettingsFile(contract::HookSettingsFile<wchar_t>, L"0"));

  std::vector<std::unique_ptr<ShellChain>> chains;
  std::vector<Notice> notices;
  int timerTicks = 0;
  const auto observe = [&](const MSG& msg) {
    if (msg.message == contract::kNoticeMessage && msg.lParam == contract::kNoticeLParam) {
      notices.push_back({msg.hwnd, msg.wParam});
    } else if (msg.message == WM_TIMER && msg.hwnd == nullptr) {
      ++timerTicks;
    }
  };

  for (const Scenario& scenario : kScenarios) {
    std::printf("%ls\n", scenario.name);
    HWND expected = scenario.build(chains);
    EXPECT_TRUE(chains.back() != nullptr);
    const std::wstring copy =
        CopyToTemp(library, L"hook-attach", (std::wstring(scenario.name) + L".dll").c_str());
    HMODULE module = LoadLibraryW(copy.c_str());
    EXPECT_TRUE(module != nullptr);
    if (module == nullptr) continue;
    if (scenario.afterAttach) scenario.afterAttach(expected);

    auto proc = reinterpret_cast<HOOKPROC>(
        reinterpret_cast<void*>(GetProcAddress(module, contract::kHookProcName)));
    HHOOK hook = SetWindowsHookExW(contract::kHookType, proc, module, GetCurrentThreadId());
    EXPECT_TRUE(hook != nullptr);
    UniqueWindow window(CreateWindowExW(0, L"STATIC", L"icon", WS_OVERLAPPED, 0, 0, 50, 50, nullptr,
                                        nullptr, nullptr, nullptr));
    notices.clear();
    SendMessageW(window.Get(), WM_SETICON, ICON_BIG, 0);
    SendMessageW(window.Get(), WM_GETICON, ICON_BIG, 0);
    EXPECT_TRUE(UnhookWindowsHookEx(hook));
    shell::PumpMessagesFor(300, observe);

    if (expected != nullptr) {
      EXPECT_TRUE(notices.size() == 1);
      EXPECT_TRUE(!notices.empty() && notices[0].dialog == expected &&
                  notices[0].window == reinterpret_cast<WPARAM>(window.Get()));
    } else {
      EXPECT_TRUE(notices.empty());
    }
    EXPECT_TRUE(FreeLibrary(module));
  }

  // Keep the libraries loaded this time: a watchdog armed by mistake would tick now.
  std::printf("no watchdog\n");
  std::vector<HMODULE> loaded;
  for (const Scenario& scenario : kScenarios) {
    chains.clear();
    scenario.build(chains);
    const std::wstring copy =
        CopyToTemp(library, L"hook-attach", (std::wstring(scenario.name) + L"-kept.dll").c_str());
    loaded.push_back(LoadLibraryW(copy.c_str()));
    EXPECT_TRUE(loaded.back() != nullptr);
  }
  shell::PumpMessagesFor(contract::kWatchdogPeriodMs + 1500, observe);
  EXPECT_TRUE(timerTicks == 0);
  for (HMODULE module : loaded) FreeLibrary(module);

  EXPECT_TRUE(AccessViolationGuard::count() == 0);
  RemoveSettingsFile(contract::HookSettingsFile<wchar_t>);
}

}  // namespace
}  // namespace quillon::test

int main(int argc, char** argv) {
  return quillon::test::RunAllTestsWithCleanRunLine(argc, argv, "hook_attach_wine <library>",
                                                    {&quillon::test::g_libraryArgument});
}
