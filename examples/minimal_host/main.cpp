// minimal_host: the least a host does with Tallyhook and Sidecar64, in the order that works.
// It waits for one icon-change notice, resolves that window's program through Sidecar64, and
// takes everything down again. Exit code 0 when a notice came and its path was resolved.
//
//   minimal_host [seconds]      (default 60: how long to wait for the notice)
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/client/win32_assistant_port.h"
#include "host/client/win32_assistant_process.h"
#include "host/client/win32_host_instance.h"
#include "host/client/win32_icon_hook.h"
#include "host/client/win32_liveness.h"
#include "host/contract.h"
#include "host/version.h"

namespace {

namespace contract = quillon::contract;
using quillon::UniqueWindow;

int Fail(const char* what) {
  std::printf("minimal_host: %s\n", what);
  return 1;
}

HWND MakeWindow(const wchar_t* window_class, const wchar_t* title, DWORD style, HWND parent) {
  return ::CreateWindowExW(0, window_class, title, style, 0, 0, 120, 30, parent, nullptr,
                           ::GetModuleHandleW(nullptr), nullptr);
}

// The shell's task-switch window. Where there is no visible task bar (Wine shows none), a
// stand-in chain of our own; `made` then owns its top window (the others go with it).
HWND TaskSwitchWindow(UniqueWindow& made) {
  HWND tray = nullptr;
  do {
    tray = ::FindWindowExW(nullptr, tray, contract::TrayClass<wchar_t>, nullptr);
  } while (tray != nullptr && !::IsWindowVisible(tray));
  if (tray != nullptr) {
    const HWND rebar = ::FindWindowExW(tray, nullptr, contract::RebarClass<wchar_t>, nullptr);
    if (rebar != nullptr) {
      return ::FindWindowExW(rebar, nullptr, contract::TaskSwitchClass<wchar_t>, nullptr);
    }
  }
  HWND parent = nullptr;
  for (const wchar_t* name : {contract::TrayClass<wchar_t>, contract::RebarClass<wchar_t>,
                              contract::TaskSwitchClass<wchar_t>}) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = name;
    ::RegisterClassExW(&wc);
    parent = MakeWindow(name, L"", parent ? WS_CHILD | WS_VISIBLE : WS_POPUP | WS_VISIBLE, parent);
    if (parent == nullptr) return nullptr;
    if (!made) made.Reset(parent);
  }
  return parent;
}

// Pumps messages until a notice arrives, Sidecar64 ends or the time is up; the notice's window,
// or null. The notice is posted, so it comes through this loop; inside a modal loop (a menu, a
// message box, DialogBox) it would reach the dialog's window procedure instead.
HWND WaitForNotice(HWND dialog, const quillon::AssistantProcess& sidecar, DWORD seconds) {
  const ULONGLONG deadline = ::GetTickCount64() + seconds * 1000ull;
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.hwnd == dialog && msg.message == contract::kNoticeMessage &&
          msg.lParam == contract::kNoticeLParam) {
        return reinterpret_cast<HWND>(msg.wParam);
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return nullptr;
    // Sidecar64's process handle is signalled when it ends: a host would start it again here.
    const HANDLE ended = sidecar.Handle();
    if (::MsgWaitForMultipleObjects(1, &ended, FALSE, static_cast<DWORD>(deadline - now),
                                    QS_ALLINPUT) == WAIT_OBJECT_0) {
      std::printf("minimal_host: Sidecar64 ended (exit code %lu)\n",
                  static_cast<unsigned long>(sidecar.ExitCode()));
      return nullptr;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const DWORD seconds = argc > 1 ? static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)) : 60;
  std::printf("minimal_host: client %s\n", quillon::kVersionText);

  // 0. One host per session, before anything is touched: a second one would take "Handle" and
  //    Sidecar64 from the first.
  quillon::HostInstance instance = quillon::HostInstance::Claim();
  if (!instance.Claimed()) {
    std::printf("minimal_host: %s (process %lu); nothing touched\n",
                quillon::Describe(instance.Status()),
                static_cast<unsigned long>(instance.Holder().process_id));
    return 3;
  }

  // 1. The main window, then the dialog under the task bar chain. Tallyhook looks for the
  //    dialog once per process, when it is loaded, and this process loads it first (step 3).
  UniqueWindow main_window(MakeWindow(L"STATIC", L"minimal host", WS_OVERLAPPED, nullptr));
  UniqueWindow stand_in_tray;
  const HWND task_switch = TaskSwitchWindow(stand_in_tray);
  if (!main_window || task_switch == nullptr) return Fail("cannot create the windows");
  instance.PublishMainWindow(main_window.Get());
  UniqueWindow dialog(MakeWindow(contract::DialogClass<wchar_t>, contract::DialogTitle<wchar_t>,
                                 WS_CHILD | WS_VISIBLE, task_switch));
  if (!dialog) return Fail("cannot create the dialog");

  // 2. The liveness value, before either companion runs.
  if (!quillon::WriteLivenessValue(main_window.Get())) return Fail("cannot write \"Handle\"");

  // 3. The hook, from this thread, which keeps pumping messages from now on.
  const std::wstring folder = quillon::ModuleFolder();
  quillon::IconHook hook;
  const quillon::HookStatus hooked =
      hook.Install(dialog.Get(), folder + contract::HookLibraryFile<wchar_t>);
  if (hooked != quillon::HookStatus::kInstalled) return Fail(quillon::Describe(hooked));
  std::printf("minimal_host: hook installed\n");

  // 4. Sidecar64 (after ending one whose host is gone), and one client for this thread that
  //    talks to this Sidecar64 only.
  quillon::EndLeftoverAssistants();
  quillon::AssistantProcess sidecar;
  const quillon::StartResult started = sidecar.Start(folder + contract::AssistantFile<wchar_t>);
  if (!started) return Fail(quillon::Describe(started.status));
  quillon::Win32AssistantClient client(sidecar, 5000);
  std::printf("minimal_host: Sidecar64 started, waiting up to %lu s for a notice\n",
              static_cast<unsigned long>(seconds));
  std::fflush(stdout);

  // 5. One notice, and the program behind its window.
  int code = 1;
  if (const HWND window = WaitForNotice(dialog.Get(), sidecar, seconds)) {
    std::wstring path;
    const quillon::RequestStatus status = client.GetPath(window, path);
    std::printf("minimal_host: notice for window 0x%08lx: %ls\n",
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(window)),
                status == quillon::RequestStatus::kResolved ? path.c_str() : L"(no path)");
    if (status == quillon::RequestStatus::kResolved) code = 0;
  } else {
    std::printf("minimal_host: no notice\n");
  }

  // 6. The end, in reverse: Sidecar64 ends on "Exit", the hook goes, "Handle" is cleared.
  if (client.SendExit() != quillon::RequestStatus::kDelivered || !sidecar.WaitForExit(5000)) {
    sidecar.Terminate();
  }
  hook.Remove();
  quillon::ClearLivenessValue();
  std::printf("minimal_host: ended\n");
  return code;
}
