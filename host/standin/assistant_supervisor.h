// Keeps Sidecar64 available to the stand-in host: ends one left running by an earlier host,
// starts its own (and talks to that one only), notices when it has gone (reported once per loss),
// starts it again with the next request, and ends it with "Exit".
#pragma once

#include <windows.h>

#include <string>

#include "host/client/win32_assistant_port.h"
#include "host/client/win32_assistant_process.h"

namespace quillon::standin {

class AssistantSupervisor {
 public:
  AssistantSupervisor(std::wstring exe_path, DWORD timeout_ms);

  bool Start();
  // The path of the window's process, or a reason why there is none, as one readable text.
  // Starts Sidecar64 again first when it was lost.
  std::wstring Describe(HWND target, bool& resolved);
  // Looks whether Sidecar64 ended by itself; reports that once.
  void Check();
  // "Exit", then waits for the process; ends it by force when it does not go.
  void Stop();

  HWND ReceiveWindow() const { return FindReceiveWindowOf(process_.ProcessId()); }
  unsigned Restarts() const { return restarts_; }

 private:
  void ReportLoss(const wchar_t* how);

  std::wstring exe_path_;
  AssistantProcess process_;
  Win32AssistantClient client_;  // bound to process_
  bool lost_ = false;
  unsigned timeouts_in_a_row_ = 0;
  unsigned restarts_ = 0;
};

}  // namespace quillon::standin
