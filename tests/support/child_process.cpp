#include "tests/support/child_process.h"

namespace quillon::test {
namespace {

void ServeOwnWindows() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

}  // namespace

bool ChildProcess::Start(const wchar_t* path, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + std::wstring(path) + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNOACTIVATE;
  return CreateProcessW(path, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info_) != 0;
}

HWND ChildProcess::FindWindowOf(const wchar_t* className, std::chrono::seconds limit) const {
  const auto end = std::chrono::steady_clock::now() + limit;
  do {
    for (HWND window = FindWindowExW(nullptr, nullptr, className, nullptr); window != nullptr;
         window = FindWindowExW(nullptr, window, className, nullptr)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == info_.dwProcessId && (className != nullptr || IsWindowVisible(window))) {
        return window;
      }
    }
    if (WaitForSingleObject(info_.hProcess, 100) == WAIT_OBJECT_0) return nullptr;
  } while (std::chrono::steady_clock::now() < end);
  return nullptr;
}

long ChildProcess::WaitForExit(std::chrono::milliseconds limit) const {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (WaitForSingleObject(info_.hProcess, 20) == WAIT_TIMEOUT) {
    ServeOwnWindows();
    if (std::chrono::steady_clock::now() >= end) return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(info_.hProcess, &code);
  return static_cast<long>(code);
}

void ChildProcess::Stop() {
  if (info_.hProcess == nullptr) return;
  if (Running()) {
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
  info_ = {};
}

}  // namespace quillon::test
