// The Win32 side of the client: finds Sidecar64's receive window, runs each handshake on a
// thread of its own with sends that wait as long as Sidecar64 takes, and owns the hidden window
// that receives the "GetPath" replies (taken while the client's thread waits).
#ifndef QUILLON_HOST_CLIENT_WIN32_ASSISTANT_PORT_H
#define QUILLON_HOST_CLIENT_WIN32_ASSISTANT_PORT_H

#include <windows.h>

#include <memory>
#include <string>

#include "host/client/assistant_client.h"
#include "host/client/assistant_port.h"
#include "host/client/win32_assistant_process.h"
#include "host/win32_handles.h"

namespace quillon {

// A Sidecar64 named by its process id, for one this host did not start itself.
struct AssistantProcessId {
  DWORD value = 0;
};

// Which receive window a port talks to:
// - bound to an AssistantProcess: that process's, while it runs (a restarted Sidecar64 is
//   followed; while none runs, requests end with kNoAssistant). The process object must outlive
//   the port. This is the form for a host: "Exit" and GetPath never reach another host's
//   Sidecar64.
// - bound to a process id: that process's only.
// - unbound: the first receive window in the session, whoever started it; for tools and tests
//   that talk to whichever Sidecar64 runs.
class Win32AssistantPort final : public AssistantPort {
 public:
  Win32AssistantPort();
  explicit Win32AssistantPort(const AssistantProcess& assistant);
  explicit Win32AssistantPort(AssistantProcessId assistant);
  ~Win32AssistantPort() override;
  Win32AssistantPort(const Win32AssistantPort&) = delete;
  Win32AssistantPort& operator=(const Win32AssistantPort&) = delete;

  WindowId FindReceiveWindow() override;
  bool IsWindow(WindowId target) const override;
  WindowId ReplyWindow() const override;
  bool OnOwnerThread() const override;
  void SetReplySink(ReplySink* sink) override { sink_ = sink; }
  bool BeginHandshake(WindowId receiver, std::u16string text) override;
  std::optional<SendOutcome> AwaitHandshake(unsigned timeout_ms) override;

  struct Handshake;  // shared with the thread that runs it

 private:
  static LRESULT CALLBACK ReplyProc(HWND window, UINT message, WPARAM wparam,
                                    LPARAM lparam) noexcept;
  static DWORD WINAPI RunHandshakeThread(void* parameter) noexcept;

  DWORD owner_thread_;
  const AssistantProcess* assistant_ = nullptr;
  DWORD assistant_id_ = 0;
  ReplySink* sink_ = nullptr;
  UniqueWindow reply_window_;
  std::shared_ptr<Handshake> current_;
};

// Port and client together, for hosts that want a path as a wide string. Create, use and
// destroy it on one thread, which keeps pumping messages (the reply window is that thread's);
// from any other thread each request returns kWrongThread. Which Sidecar64 it talks to is the
// port's choice above: a host makes it for the AssistantProcess it started.
class Win32AssistantClient {
 public:
  // `timeout_ms` bounds how long one request waits for Sidecar64.
  explicit Win32AssistantClient(const AssistantProcess& assistant, unsigned timeout_ms = 5000)
      : port_(assistant), client_(port_, timeout_ms) {}
  explicit Win32AssistantClient(AssistantProcessId assistant, unsigned timeout_ms = 5000)
      : port_(assistant), client_(port_, timeout_ms) {}
  // Unbound: the first receive window in the session, whoever started it.
  explicit Win32AssistantClient(unsigned timeout_ms = 5000) : client_(port_, timeout_ms) {}

  RequestStatus GetPath(HWND target, std::wstring& path);
  RequestStatus SendExit() { return client_.SendExit(); }
  // The receive window that requests go to now, or null.
  HWND FindAssistant() { return reinterpret_cast<HWND>(port_.FindReceiveWindow()); }
  const AssistantClient& Client() const { return client_; }

 private:
  Win32AssistantPort port_;
  AssistantClient client_;
};

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_WIN32_ASSISTANT_PORT_H
