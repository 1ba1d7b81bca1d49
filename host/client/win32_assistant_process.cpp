#include "host/client/win32_assistant_process.h"

#include <algorithm>
#include <vector>

#include "host/client/win32_assistant_port.h"
#include "host/client/win32_process_ancestry.h"
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

HWND NextReceiveWindow(HWND after) {
  HWND candidate = after;
  while ((candidate = ::FindWindowExW(nullptr, candidate, contract::ReceiveClass<wchar_t>,
                                      nullptr)) != nullptr) {
    // GetWindowTextW reads another process's title without sending it a message, so a hung
    // Sidecar64 cannot block the search.
    wchar_t title[2] = {};
    if (::GetWindowTextW(candidate, title, 2) == 0 && title[0] == L'\0') return candidate;
  }
  return nullptr;
}

HWND FindReceiveWindowOf(DWORD process_id) {
  if (process_id == 0) return nullptr;
  for (HWND window = NextReceiveWindow(nullptr); window != nullptr;
       window = NextReceiveWindow(window)) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == process_id) return window;
  }
  return nullptr;
}

std::vector<DWORD> AssistantProcessIds() {
  std::vector<DWORD> ids;
  for (HWND window = NextReceiveWindow(nullptr); window != nullptr;
       window = NextReceiveWindow(window)) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != 0 && std::find(ids.begin(), ids.end(), owner) == ids.end()) ids.push_back(owner);
  }
  return ids;
}

StartResult AssistantProcess::Start(const std::wstring& exe_path, DWORD ready_ms) {
  StartResult result;
  if (Running()) {
    result.status = StartStatus::kAlreadyRunning;
    return result;
  }
  process_.Reset();
  process_id_ = 0;

  std::wstring command_line = L"\"" + exe_path + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(exe_path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
    result.system_error = ::GetLastError();
    switch (result.system_error) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
      case ERROR_INVALID_NAME:
        result.status = StartStatus::kNoFile;
        break;
      case ERROR_BAD_EXE_FORMAT:
      case ERROR_EXE_MACHINE_TYPE_MISMATCH:
        result.status = StartStatus::kNotAProgram;
        break;
      default:
        result.status = StartStatus::kCannotStart;
        break;
    }
    return result;
  }
  ::CloseHandle(info.hThread);
  process_.Reset(info.hProcess);
  process_id_ = info.dwProcessId;

  // WaitForInputIdle returns once its first message loop waits; poll for the window as well,
  // since the window is what requests need.
  ::WaitForInputIdle(process_.Get(), ready_ms);
  const ULONGLONG deadline = ::GetTickCount64() + ready_ms;
  while (FindReceiveWindowOf(process_id_) == nullptr) {
    if (!Running()) {
      result.status = StartStatus::kEndedEarly;
      result.exit_code = ExitCode();
    } else if (::GetTickCount64() >= deadline) {
      result.status = StartStatus::kNoWindowInTime;
    } else {
      ::Sleep(20);
      continue;
    }
    // A process that cannot serve requests is of no use, and a later Start would take it for
    // a running Sidecar64: end it and forget it.
    Terminate();
    process_.Reset();
    process_id_ = 0;
    return result;
  }
  result.status = StartStatus::kStarted;
  return result;
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
  unsigned ended = 0;
  for (const DWORD process_id : AssistantProcessIds()) {
    // Another host's Sidecar64, and this host's own, have a live starter: they stay.
    if (FindStarter(process_id).state != StarterState::kGone) continue;
    const UniqueKernelHandle process(
        ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, process_id));
    if (!process) continue;
    Win32AssistantClient client(AssistantProcessId{process_id}, wait_ms);
    client.SendExit();
    if (::WaitForSingleObject(process.Get(), wait_ms) != WAIT_OBJECT_0) {
      ::TerminateProcess(process.Get(), 1);
      if (::WaitForSingleObject(process.Get(), 5000) != WAIT_OBJECT_0) continue;
    }
    ++ended;
  }
  return ended;
}

const char* Describe(StartStatus status) {
  switch (status) {
    case StartStatus::kStarted:
      return "started";
    case StartStatus::kAlreadyRunning:
      return "already running";
    case StartStatus::kNoFile:
      return "no such file";
    case StartStatus::kNotAProgram:
      return "not a program this system can run";
    case StartStatus::kCannotStart:
      return "the program could not be started";
    case StartStatus::kEndedEarly:
      return "ended before its receive window appeared";
    case StartStatus::kNoWindowInTime:
      return "no receive window in time; ended again";
  }
  return "unknown";
}

}  // namespace quillon
