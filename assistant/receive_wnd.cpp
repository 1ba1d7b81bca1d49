#include "assistant/receive_wnd.h"

#include <cstdint>

#include "assistant/execute_command.h"
#include "assistant/request_text.h"
#include "assistant/win32_command_port.h"
#include "host/contract.h"
#include "settings/handle_text.h"
#include "settings/win32_settings_port.h"

namespace quillon {
namespace {

bool g_receiveWndRegistered = false;

// The watchdog's operations on the receive window and its settings store.
class ReceiveWndWatchdogPort final : public HostWatchdogPort {
 public:
  ReceiveWndWatchdogPort(CSettingsW& settings, HWND window)
      : settings_(settings), window_(window) {}

  bool HostLives() override {
    CTextW value;
    if (!settings_.ReadValue(contract::LivenessSection<wchar_t>, contract::LivenessKey<wchar_t>,
                             value)) {
      return false;
    }
    // Saturating signed 32-bit reading, widened with its sign like any 32-bit handle value.
    const std::int32_t number = ParseHandleSaturating(value.GetText());
    return IsWindow(reinterpret_cast<HWND>(static_cast<std::intptr_t>(number))) != FALSE;
  }
  void ArmWatchdog(unsigned periodMs) override {
    SetTimer(window_, contract::kAssistantWatchdogTimerId, periodMs, nullptr);
  }
  void Quit() override { PostQuitMessage(0); }

 private:
  CSettingsW& settings_;
  HWND window_;
};

}  // namespace

CReceiveWnd::CReceiveWnd()
    : settings_(false, contract::Firm<wchar_t>, contract::App<wchar_t>,
                Win32SettingsPort<wchar_t>()),
      mutex_(CreateMutexW(nullptr, FALSE, contract::RequestMutex<wchar_t>)) {
  EnsureRegistered();
  settings_.SetBaseKey(L"");  // the section read is exactly the section asked for
  settings_.SetFileName(contract::AssistantSettingsFile<wchar_t>);
}

bool& CReceiveWnd::RegisteredFlag() { return g_receiveWndRegistered; }

const wchar_t* CReceiveWnd::ClassName() const { return contract::ReceiveClass<wchar_t>; }

LRESULT CReceiveWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NULL:
      // The requester's turn begins: wait, without limit, until nobody else holds the mutex.
      // A repeated WM_NULL on this thread only counts up the ownership.
      if (mutex_) WaitForSingleObject(mutex_.Get(), INFINITE);
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      break;
    case WM_COPYDATA:
      if (mutex_) {
        OnRequest(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        ReleaseMutex(mutex_.Get());  // fails harmlessly without a preceding WM_NULL
      }
      break;
    case WM_TIMER:
      if (wParam == contract::kAssistantWatchdogTimerId) OnWatchdog();
      break;
    default:
      break;
  }
  return CWnd::WindowProc(message, wParam, lParam);
}

void CReceiveWnd::OnRequest(const COPYDATASTRUCT* data) {
  // The sender's bytes are ours only during this message: copy what cbData delivers, and run
  // nothing that is not a complete, terminated text of at most 1023 units.
  if (data == nullptr) return;
  auto request = CopyRequestText<wchar_t>(data->lpData, data->cbData);
  if (request) ExecuteCommand(request->data(), Win32CommandPort());
}

void CReceiveWnd::OnWatchdog() {
  ReceiveWndWatchdogPort port(settings_, GetHwnd());
  watchdog_.OnExpiry(port);
}

}  // namespace quillon
