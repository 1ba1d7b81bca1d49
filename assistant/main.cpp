// Sidecar64's entry: one hidden receive window, a 10-second watchdog and the message loop.
#include <windows.h>

#include "assistant/receive_wnd.h"
#include "host/contract.h"

namespace {

// Built before WinMain, destroyed after it returns; destroying it destroys its window.
quillon::CReceiveWnd g_receiveWnd;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  g_receiveWnd.Create(0, WS_POPUP, nullptr, nullptr);
  const HWND window = g_receiveWnd.GetHwnd();
  if (IsWindow(window)) {
    SetTimer(window, quillon::contract::kAssistantWatchdogTimerId,
             quillon::contract::kWatchdogPeriodMs, nullptr);
  } else {
    PostQuitMessage(0);
  }

  MSG message;
  // GetMessageW gives -1 on a failure; that ends the loop too instead of spinning on it.
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
