// Starting Sidecar64 and waiting for it: the host owns the process handle, so it can tell an
// ended Sidecar64 from a busy one and start it again.
#ifndef QUILLON_HOST_CLIENT_WIN32_ASSISTANT_PROCESS_H
#define QUILLON_HOST_CLIENT_WIN32_ASSISTANT_PROCESS_H

#include <windows.h>

#include <string>

#include "host/win32_handles.h"

namespace quillon {

// The folder of this program's own executable, with a trailing backslash.
std::wstring ModuleFolder(HMODULE module = nullptr);

class AssistantProcess {
 public:
  // Starts `exe_path` (no arguments) and waits up to `ready_ms` for its receive window. True at
  // once while the process started last still runs. When no receive window appears in time, the
  // process is ended and false returned: nothing is left running.
  bool Start(const std::wstring& exe_path, DWORD ready_ms = 10000);
  bool Running() const;
  // Waits for the process to end; true when it has (or none was started).
  bool WaitForExit(DWORD milliseconds);
  // Ends it by force (a hung Sidecar64); true once it is gone.
  bool Terminate();
  DWORD ExitCode() const;
  DWORD ProcessId() const { return process_id_; }
  HANDLE Handle() const { return process_.Get(); }

 private:
  UniqueKernelHandle process_;
  DWORD process_id_ = 0;
};

// The receive window that belongs to `process_id`, or null.
HWND FindReceiveWindowOf(DWORD process_id);

// Ends every Sidecar64 that is running before the host starts its own: one left by an earlier
// life of the host. A host that was killed and started again within Sidecar64's 10-second check
// writes a live liveness value before that check, so the earlier Sidecar64 stays for as long as
// the new host runs, beside the one the new host starts. Each gets "Exit" and `wait_ms` to end;
// one that does not is ended by force. Returns how many were ended.
unsigned EndLeftoverAssistants(DWORD wait_ms = 5000);

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_WIN32_ASSISTANT_PROCESS_H
