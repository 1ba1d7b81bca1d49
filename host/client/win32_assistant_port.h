// The Win32 side of the client: finds Sidecar64's receive window, sends with a time limit, and
// owns the hidden window that receives the "GetPath" replies.
#pragma once

#include <windows.h>

#include <string>

#include "host/client/assistant_client.h"
#include "host/client/assistant_port.h"
#include "host/client/win32_handles.h"

namespace quillon {

class Win32AssistantPort final : public AssistantPort {
 public:
  // `timeout_ms` bounds each of the two sends of a request.
  explicit Win32AssistantPort(DWORD timeout_ms = 5000);

  WindowId FindReceiveWindow() override;
  WindowId ReplyWindow() const override;
  void SetReplySink(ReplySink* sink) override { sink_ = sink; }
  SendOutcome SendNull(WindowId receiver) override;
  SendOutcome SendText(WindowId receiver, std::u16string_view text) override;

 private:
  static LRESULT CALLBACK ReplyProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  SendOutcome Send(HWND receiver, UINT message, WPARAM wparam, LPARAM lparam);

  DWORD timeout_ms_;
  ReplySink* sink_ = nullptr;
  UniqueWindow reply_window_;
};

// Port and client together, for hosts that want a path as a wide string.
class Win32AssistantClient {
 public:
  explicit Win32AssistantClient(DWORD timeout_ms = 5000) : port_(timeout_ms), client_(port_) {}

  RequestStatus GetPath(HWND target, std::wstring& path);
  RequestStatus SendExit() { return client_.SendExit(); }
  HWND FindAssistant() { return reinterpret_cast<HWND>(port_.FindReceiveWindow()); }
  const AssistantClient& Client() const { return client_; }

 private:
  Win32AssistantPort port_;
  AssistantClient client_;
};

}  // namespace quillon
