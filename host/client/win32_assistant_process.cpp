#include "host/client/win32_assistant_process.h"

#include <vector>

#include "host/client/win32_assistant_port.h"
#include "host/contract.h"

namespace quillon {

std::wstring ModuleFolder(HMODULE module) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      std::wstring path(buffer.data(), length);
      return path.substr(0, path.find_last_of(L"\\/") + 1);
    }
    buffer.resize(buffer.size() * 2);
  }
}

HWND FindReceiveWindowOf(DWORD process_id) {
  HWND candidate = nullptr;
  while ((candidate = ::FindWindowExW(nullptr, candidate, contract::ReceiveClass<wchar_t>,
                                      nullptr)) != nullptr) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(candidate, &owner);
    if (owner == process_id) return candidate;
  }
  return nullptr;
}

bool AssistantProcess::Start(const std::wstring& exe_path, DWORD ready_ms) {
  if (Running()) return true;
  process_.Reset();
  process_id_ = 0;

  std::wstring command_line = L"\"" + exe_path + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(exe_path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
    return false;
  }
  ::CloseHandle(info.hThread);
  process_.Reset(info.hProcess);
  process_id_ = info.dwProcessId;

  // WaitForInputIdle returns once its first message loop waits; poll for the window as well,
  // since the window is what requests need.
  ::WaitForInputIdle(process_.Get(), ready_ms);
  const ULONGLONG deadline = ::GetTickCount64() + ready_ms;
  while (FindReceiveWindowOf(process_id_) == nullptr) {
    if (!Running() || ::GetTickCount64() >= deadline) {
      // A process that cannot serve requests is of no use, and a later Start would take it for
      // a running Sidecar64: end it and forget it.
      Terminate();
      process_.Reset();
      process_id_ = 0;
      return false;
    }
    ::Sleep(20);
  }
  return true;
}

bool AssistantProcess::Running() const {
  return process_ && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

bool AssistantProcess::WaitForExit(DWORD milliseconds) {
  return !process_ || ::WaitForSingleObject(process_.Get(), milliseconds) == WAIT_OBJECT_0;
}

bool AssistantProcess::Terminate() {
  if (!Running()) return true;
  ::TerminateProcess(process_.Get(), 1);
  return WaitForExit(5000);
}

DWORD AssistantProcess::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (process_) ::GetExitCodeProcess(process_.Get(), &code);
  return code;
}

unsigned EndLeftoverAssistants(DWORD wait_ms) {
  Win32AssistantClient client(wait_ms);
  unsigned ended = 0;
  // Bounded: a receive window whose process cannot be ended must not keep the host here.
  for (int round = 0; round < 16; ++round) {
    const HWND window = client.FindAssistant();
    if (window == nullptr) break;
    DWORD process_id = 0;
    ::GetWindowThreadProcessId(window, &process_id);
    const UniqueKernelHandle process(
        ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, process_id));
    if (!process) break;
    client.SendExit();
    if (::WaitForSingleObject(process.Get(), wait_ms) != WAIT_OBJECT_0) {
      ::TerminateProcess(process.Get(), 1);
      if (::WaitForSingleObject(process.Get(), 5000) != WAIT_OBJECT_0) break;
    }
    ++ended;
  }
  return ended;
}

}  // namespace quillon
