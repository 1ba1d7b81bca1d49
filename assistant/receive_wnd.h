// CReceiveWnd: Sidecar64's hidden window. Serves requests under the named-mutex handshake
// (WM_NULL takes the mutex, WM_COPYDATA runs the request and gives it back) and ends the program
// once the host's main window, read from the settings every 10 seconds, is gone (a failed look is
// confirmed a second later before the program ends: HostWatchdog).
#pragma once

#include <windows.h>

#include "assistant/cwnd.h"
#include "assistant/host_watchdog.h"
#include "host/win32_handles.h"
#include "settings/settings.h"

namespace quillon {

class CReceiveWnd : public CWnd {
 public:
  CReceiveWnd();
  ~CReceiveWnd() override = default;

  bool& RegisteredFlag() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  const wchar_t* ClassName() const override;

 private:
  void OnRequest(const COPYDATASTRUCT* data);
  void OnWatchdog();

  CSettingsW settings_;
  HostWatchdog watchdog_;
  UniqueKernelHandle mutex_;  // null when the mutex could not be created: then no request runs
};

}  // namespace quillon
