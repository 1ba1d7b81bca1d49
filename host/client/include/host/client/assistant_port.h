// What the host-side client needs from the platform to talk to Sidecar64: find its receive window,
// run the two sends of one request, and learn of the replies that reach our reply window.
// The Win32 adapter is win32_assistant_port.h; tests use fakes.
#ifndef QUILLON_HOST_CLIENT_ASSISTANT_PORT_H
#define QUILLON_HOST_CLIENT_ASSISTANT_PORT_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/contract.h"  // WindowId

namespace quillon {

// How one synchronous send ended.
enum class SendOutcome {
  kDone,      // the receiver processed the message
  kNoWindow,  // the receiver's window is gone: nothing was, or will be, processed
  kFailed,    // any other failure
};

// A WM_COPYDATA that reached our reply window, exactly as the platform handed it over:
// `available` is the number of bytes readable at `data` (on Windows the system copies cbData).
struct ReplyRecord {
  std::uintptr_t wParam = 0;
  std::uintptr_t dwData = 0;
  std::uint32_t cbData = 0;
  const void* data = nullptr;
  std::size_t available = 0;
};

class ReplySink {
 public:
  virtual void OnReply(const ReplyRecord& record) = 0;

 protected:
  virtual ~ReplySink() = default;
};

// The two sends of one request, each waiting for as long as the receiver takes.
class HandshakeSender {
 public:
  virtual SendOutcome SendNull(WindowId receiver) = 0;                            // WM_NULL
  virtual SendOutcome SendText(WindowId receiver, std::u16string_view text) = 0;  // WM_COPYDATA

 protected:
  virtual ~HandshakeSender() = default;
};

class AssistantPort {
 public:
  virtual ~AssistantPort() = default;

  // The receive window that requests go to (a top-level window of the receive class with an
  // empty title), or 0.
  virtual WindowId FindReceiveWindow() = 0;
  // True when `target` names a window now. GetPath asks before it sends: Sidecar64's reply to a
  // handle that names no window is the same empty text as for a path it cannot read.
  virtual bool IsWindow(WindowId target) const = 0;
  // Our own window that replies are sent to; 0 when it could not be made.
  virtual WindowId ReplyWindow() const = 0;
  // True on the thread that made the port: only that thread receives the replies.
  virtual bool OnOwnerThread() const = 0;
  // Where the reply window hands what it receives.
  virtual void SetReplySink(ReplySink* sink) = 0;

  // Starts RunHandshake(receiver, text) apart from the caller, so that the caller can stop
  // waiting while the sends themselves never give up (a send that gives up may be withdrawn
  // after its WM_NULL was taken, which would leave the mutex taken for good). False when it
  // could not be started.
  virtual bool BeginHandshake(WindowId receiver, std::u16string text) = 0;
  // Waits up to `timeout_ms` for the handshake begun last, taking the replies that arrive
  // meanwhile. Its outcome, or nothing while it still runs.
  virtual std::optional<SendOutcome> AwaitHandshake(unsigned timeout_ms) = 0;
};

// One request: WM_NULL, then exactly one WM_COPYDATA with `text` (its terminator included),
// unless the WM_NULL found no window. A WM_COPYDATA after a WM_NULL that failed otherwise does
// no harm: the request still runs and the release that follows it fails.
SendOutcome RunHandshake(HandshakeSender& sender, WindowId receiver, std::u16string_view text);

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_ASSISTANT_PORT_H
