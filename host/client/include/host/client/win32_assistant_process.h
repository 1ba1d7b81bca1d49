// Starting Sidecar64 and waiting for it: the host owns the process handle, so it can tell an
// ended Sidecar64 from a busy one and start it again.
#ifndef QUILLON_HOST_CLIENT_WIN32_ASSISTANT_PROCESS_H
#define QUILLON_HOST_CLIENT_WIN32_ASSISTANT_PROCESS_H

#include <windows.h>

#include <string>
#include <vector>

#include "host/win32_handles.h"

namespace quillon {

// The folder of this program's own executable, with a trailing backslash.
std::wstring ModuleFolder(HMODULE module = nullptr);

// How AssistantProcess::Start ended; Describe() reads it.
enum class StartStatus {
  kStarted,         // started, and its receive window is there
  kAlreadyRunning,  // the process started last still runs: nothing was done
  kNoFile,          // no file at that path, or no such folder
  kNotAProgram,     // the file is no program this system runs (or of the wrong machine)
  kCannotStart,     // CreateProcess failed otherwise: see `system_error`
  kEndedEarly,      // the process ended before its receive window appeared: see `exit_code`
  kNoWindowInTime,  // no receive window within the wait: the process was ended again
};

const char* Describe(StartStatus status);

struct StartResult {
  StartStatus status = StartStatus::kCannotStart;
  DWORD system_error = 0;  // GetLastError of a failed CreateProcess, else 0
  DWORD exit_code = 0;     // for kEndedEarly
  // True when a Sidecar64 runs and serves: kStarted or kAlreadyRunning.
  explicit operator bool() const {
    return status == StartStatus::kStarted || status == StartStatus::kAlreadyRunning;
  }
};

class AssistantProcess {
 public:
  // Starts `exe_path` (no arguments) and waits up to `ready_ms` for its receive window.
  // kAlreadyRunning at once while the process started last still runs. When no receive window
  // appears in time, the process is ended again: after any failure nothing is left running.
  StartResult Start(const std::wstring& exe_path, DWORD ready_ms = 10000);
  bool Running() const;
  // Waits for the process to end; true when it has (or none was started).
  bool WaitForExit(DWORD milliseconds);
  // Ends it by force (a hung Sidecar64); true once it is gone.
  bool Terminate();
  DWORD ExitCode() const;
  DWORD ProcessId() const { return process_id_; }
  // The process handle, null before a start: signalled once Sidecar64 has ended, so the host's
  // loop learns of that end by waiting on it beside its messages:
  //   MsgWaitForMultipleObjects(1, &handle, FALSE, timeout, QS_ALLINPUT) == WAIT_OBJECT_0
  // It stays valid until the next Start.
  HANDLE Handle() const { return process_.Get(); }

 private:
  UniqueKernelHandle process_;
  DWORD process_id_ = 0;
};

// The receive windows (class "OVQL_Recv64Wnd", empty title) in the session, one after the other:
// the one after `after` (null: the first), or null after the last.
HWND NextReceiveWindow(HWND after);

// The receive window that belongs to `process_id`, or null.
HWND FindReceiveWindowOf(DWORD process_id);

// The processes that have a receive window in this session, each once, in window order.
std::vector<DWORD> AssistantProcessIds();

// Ends each Sidecar64 whose starter is gone (win32_process_ancestry.h): one left by an earlier
// life of the host. A host that was killed and started again within Sidecar64's 10-second check
// writes a live liveness value before that check, so the earlier Sidecar64 would stay for as long
// as the new host runs, beside the one the new host starts. A Sidecar64 whose starter still runs
// (another host's, or this host's own) stays, and so does one whose starter cannot be told.
// Each one ended gets "Exit", to its own receive window, and `wait_ms` to end; one that does not
// is ended by force. Returns how many were ended.
unsigned EndLeftoverAssistants(DWORD wait_ms = 5000);

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_WIN32_ASSISTANT_PROCESS_H
