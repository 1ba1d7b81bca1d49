// What the host-side client needs from the platform to talk to Sidecar64: find its receive window,
// send the two messages of one request, and learn of the replies that reach our reply window.
// The Win32 adapter is win32_assistant_port.h; tests use a fake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillon {

// A window handle as a number; 0 is "no window".
using WindowId = std::uintptr_t;

// How one synchronous send ended.
enum class SendOutcome {
  kDone,      // the receiver processed the message
  kTimedOut,  // still queued at the receiver; it will be processed when the receiver gets to it
  kNoWindow,  // the receiver's window is gone: nothing was, or will be, processed
  kFailed,    // any other failure; whether the message was queued is unknown
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

class AssistantPort {
 public:
  virtual ~AssistantPort() = default;

  // The first top-level window of the receive class with an empty title, or 0.
  virtual WindowId FindReceiveWindow() = 0;
  // Our own window that replies are sent to; 0 when it could not be made.
  virtual WindowId ReplyWindow() const = 0;
  // Where the reply window hands what it receives; replies arrive while SendText waits.
  virtual void SetReplySink(ReplySink* sink) = 0;

  // Synchronous WM_NULL.
  virtual SendOutcome SendNull(WindowId receiver) = 0;
  // Synchronous WM_COPYDATA whose data is `text` (its terminator included in the view).
  virtual SendOutcome SendText(WindowId receiver, std::u16string_view text) = 0;
};

}  // namespace quillon
