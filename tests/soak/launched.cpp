#include "tests/soak/launched.h"

namespace quillon::soak {
namespace {

struct WindowSearch {
  DWORD process_id;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectVisible(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<WindowSearch*>(parameter);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == search->process_id && ::IsWindowVisible(window) &&
      ::GetWindowTextLengthW(window) > 0) {
    search->found.push_back(window);
  }
  return TRUE;
}

// An inheritable handle for the child's standard output: the file, or the null device.
HANDLE OpenOutput(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  return ::CreateFileW(path.empty() ? L"NUL" : path.c_str(), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::vector<HWND> VisibleWindowsOf(DWORD process_id) {
  WindowSearch search{process_id, {}};
  ::EnumWindows(&CollectVisible, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool Launched::Start(const std::wstring& exe, const std::wstring& arguments,
                     const std::wstring& output) {
  Reset();
  const HANDLE out = OpenOutput(output);
  if (out == INVALID_HANDLE_VALUE) return false;
  std::wstring command = L"\"" + exe + L"\"";
  if (!arguments.empty()) command += L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNOACTIVATE;
  startup.hStdInput = nullptr;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION info{};
  const BOOL started = ::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &info);
  ::CloseHandle(out);
  if (!started) return false;
  ::CloseHandle(info.hThread);
  process_.Reset(info.hProcess);
  process_id_ = info.dwProcessId;
  return true;
}

bool Launched::Running() const {
  return process_ && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

DWORD Launched::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (process_) ::GetExitCodeProcess(process_.Get(), &code);
  return code;
}

bool Launched::WaitForExit(DWORD milliseconds) const {
  return !process_ || ::WaitForSingleObject(process_.Get(), milliseconds) == WAIT_OBJECT_0;
}

bool Launched::Kill(UINT code) {
  if (!Running()) return true;
  ::TerminateProcess(process_.Get(), code);
  return WaitForExit(10000);
}

std::vector<HWND> Launched::VisibleWindows() const {
  return Running() ? VisibleWindowsOf(process_id_) : std::vector<HWND>{};
}

void Launched::Reset() {
  Kill(1);
  process_.Reset();
  process_id_ = 0;
}

}  // namespace quillon::soak
