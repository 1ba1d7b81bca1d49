// The client's IconHook with the shipped 32-bit Tallyhook under Wine: it refuses to load the
// library until the dialog exists where the library looks for it, reports each failure, and
// installs and removes hook, property and library as a pair of brackets.
//
//   host_icon_hook_wine_test <Tallyhook.dll>
#include "host/client/win32_icon_hook.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "host/contract.h"
#include "host/shell/message_pump.h"
#include "host/shell/shell_chain.h"
#include "tests/support/test_paths.h"

namespace quillon {
namespace {

std::wstring g_library;  // from the command line

HANDLE HookProperty(HWND dialog) { return ::GetPropW(dialog, contract::HookProperty<wchar_t>); }
bool LibraryLoaded() { return ::GetModuleHandleW(contract::HookLibraryFile<wchar_t>) != nullptr; }

// Runs first (tests run in the order written): nothing before it loaded the library.
TEST(IconHook, RefusesToLoadTheLibraryBeforeTheDialogExists) {
  ASSERT_FALSE(LibraryLoaded());
  auto chain = shell::ShellChain::Create();
  ASSERT_NE(chain, nullptr);
  UniqueWindow gone(::CreateWindowExW(0, contract::DialogClass<wchar_t>, L"Quillon", WS_POPUP, 0, 0,
                                      0, 0, nullptr, nullptr, nullptr, nullptr));
  const HWND destroyed = gone.Get();
  gone.Reset();
  UniqueWindow loose(::CreateWindowExW(0, contract::DialogClass<wchar_t>, L"Quillon", WS_POPUP, 0,
                                       0, 0, 0, nullptr, nullptr, nullptr, nullptr));
  // A "Quillon" dialog in the right place, but behind a "Wendril" one: the library would post
  // to that one.
  const HWND behind_alt = chain->AddDialog(contract::DialogTitle<wchar_t>);
  chain->AddDialog(contract::DialogTitleAlt<wchar_t>);

  struct Case {
    const char* name;
    HWND dialog;
    HookStatus expected;
  };
  const Case cases[] = {
      {"no dialog", nullptr, HookStatus::kNoDialog},
      {"a dialog already destroyed", destroyed, HookStatus::kNoDialog},
      {"a dialog outside the task bar chain", loose.Get(), HookStatus::kDialogNotFound},
      {"a dialog the library would pass over", behind_alt, HookStatus::kDialogNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IconHook hook;
    EXPECT_EQ(hook.Install(c.dialog, g_library), c.expected);
    EXPECT_FALSE(hook.Installed());
    EXPECT_FALSE(LibraryLoaded());
    if (c.dialog != nullptr && ::IsWindow(c.dialog)) {
      EXPECT_EQ(HookProperty(c.dialog), nullptr);
    }
  }
}

TEST(IconHook, ReportsALibraryThatCannotServe) {
  auto chain = shell::ShellChain::Create({.dialogTitle = contract::DialogTitle<wchar_t>});
  ASSERT_NE(chain, nullptr);
  wchar_t system[MAX_PATH] = {};
  ASSERT_NE(::GetSystemDirectoryW(system, MAX_PATH), 0u);
  struct Case {
    const char* name;
    std::wstring library;
    HookStatus expected;
  };
  const Case cases[] = {
      {"no such file", g_library + L".missing", HookStatus::kLoadFailed},
      {"a library without HookProc", std::wstring(system) + L"\\version.dll",
       HookStatus::kNoHookProc},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IconHook hook;
    EXPECT_EQ(hook.Install(chain->dialog(), c.library), c.expected);
    EXPECT_FALSE(hook.Installed());
    EXPECT_EQ(hook.Library(), nullptr);
    EXPECT_EQ(HookProperty(chain->dialog()), nullptr);
  }
}

// A notice for `window` reaches `dialog` after this thread sends it WM_SETICON.
bool NoticeArrives(HWND dialog, HWND window) {
  ::SendMessageW(window, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(::LoadIconW(nullptr, IDI_WARNING)));
  bool seen = false;
  shell::PumpMessagesFor(500, [&](const MSG& msg) {
    seen = seen || (msg.hwnd == dialog && msg.message == contract::kNoticeMessage &&
                    msg.wParam == reinterpret_cast<WPARAM>(window) &&
                    msg.lParam == contract::kNoticeLParam);
  });
  return seen;
}

TEST(IconHook, InstallsAndRemovesAsAPair) {
  auto chain = shell::ShellChain::Create({.dialogTitle = contract::DialogTitle<wchar_t>});
  ASSERT_NE(chain, nullptr);
  const HWND dialog = chain->dialog();
  UniqueWindow window(::CreateWindowExW(0, L"STATIC", L"icon owner", WS_POPUP, 0, 0, 0, 0, nullptr,
                                        nullptr, nullptr, nullptr));
  ASSERT_TRUE(window);
  HHOOK removed = nullptr;
  {
    IconHook hook;
    ASSERT_EQ(hook.Install(dialog, g_library), HookStatus::kInstalled);
    EXPECT_NE(hook.Library(), nullptr);
    EXPECT_EQ(HookProperty(dialog), reinterpret_cast<HANDLE>(hook.Hook()));
    EXPECT_EQ(hook.Install(dialog, g_library), HookStatus::kAlreadyInstalled);
    // The hook is live: this process's own copy of the library found the dialog at LoadLibrary.
    EXPECT_TRUE(NoticeArrives(dialog, window.Get()));
    removed = hook.Hook();
  }
  EXPECT_EQ(HookProperty(dialog), nullptr);
  EXPECT_FALSE(::UnhookWindowsHookEx(removed));  // already unhooked
  EXPECT_FALSE(NoticeArrives(dialog, window.Get()));

  // Installs again once removed, and takes down only its own property.
  IconHook again;
  ASSERT_EQ(again.Install(dialog, g_library), HookStatus::kInstalled);
  ::SetPropW(dialog, contract::HookProperty<wchar_t>, reinterpret_cast<HANDLE>(0xB00C));
  again.Remove();
  EXPECT_EQ(HookProperty(dialog), reinterpret_cast<HANDLE>(0xB00C));
  ::RemovePropW(dialog, contract::HookProperty<wchar_t>);
}

TEST(IconHook, RemovesAfterTheDialogIsGone) {
  auto chain = shell::ShellChain::Create({.dialogTitle = contract::DialogTitle<wchar_t>});
  ASSERT_NE(chain, nullptr);
  IconHook hook;
  ASSERT_EQ(hook.Install(chain->dialog(), g_library), HookStatus::kInstalled);
  const HHOOK installed = hook.Hook();
  chain.reset();
  hook.Remove();
  EXPECT_FALSE(hook.Installed());
  EXPECT_FALSE(::UnhookWindowsHookEx(installed));
}

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: host_icon_hook_wine_test <Tallyhook.dll>\n");
    return 2;
  }
  quillon::g_library = quillon::test::WindowsPath(argv[1]);
  return RUN_ALL_TESTS();
}
