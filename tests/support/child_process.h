// A program a Wine test starts and ends: it is ended (and its handles closed) when the object
// goes, so that no test leaves a process behind.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>

namespace quillon::test {

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Stop(); }

  // Starts `path` with `arguments` after its quoted path, its windows shown without activation.
  bool Start(const wchar_t* path, const std::wstring& arguments = L"");

  // The first top-level window of `className` (any visible one when null) that this process
  // owns, waiting up to `limit` for it; null when none came or the process ended.
  HWND FindWindowOf(const wchar_t* className, std::chrono::seconds limit) const;

  // Waits for the end while serving this thread's windows; the exit code, or -1 on timeout.
  long WaitForExit(std::chrono::milliseconds limit) const;

  bool Running() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }
  DWORD ProcessId() const { return info_.dwProcessId; }

  // Ends the process if it still runs.
  void Stop();

 private:
  PROCESS_INFORMATION info_{};
};

}  // namespace quillon::test
