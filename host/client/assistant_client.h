// The host's side of Sidecar64's request channel.
//
// One request is one synchronous WM_NULL (Sidecar64 takes its mutex) followed by exactly one
// synchronous WM_COPYDATA (Sidecar64 executes the text and gives the mutex back). The client
// never opens the mutex itself, so it can never hold it while sending.
//
// What goes wrong, and what the client does:
// - no receive window: nothing is sent; kNoAssistant.
// - the window disappears (Sidecar64 ended or was killed): kAssistantGone. A dead process takes
//   nothing more, and the system abandons its mutex, so nothing is owed.
// - a send times out (Sidecar64 hangs, or waits for the mutex that someone else holds): the
//   message stays queued and will still be processed. A WM_NULL that timed out or failed in an
//   unknown way is therefore always followed by one WM_COPYDATA, carrying an empty request that
//   only gives the mutex back (an unmatched WM_COPYDATA is harmless, an unmatched WM_NULL would
//   leave the mutex taken for good). A reply that arrives after its request timed out is ignored.
// - a reply that fails CheckReply is ignored and counted; without a valid reply the request
//   ends with kNoReply (or kBadReply when only invalid ones came).
//
// Use one client per thread: replies reach the reply window, which belongs to the thread that
// created the port, and arrive while that thread waits in its own send.
#pragma once

#include <cstddef>
#include <string>

#include "host/client/assistant_port.h"
#include "host/client/reply_check.h"

namespace quillon {

enum class RequestStatus {
  kResolved,       // a path came back
  kNotAvailable,   // Sidecar64 answered with the empty text: it cannot read that process's path
  kDelivered,      // a request without reply ("Exit") was processed
  kNoAssistant,    // no receive window
  kAssistantGone,  // the receive window went away during the request
  kTimedOut,       // Sidecar64 did not answer in time
  kNoReply,        // the request was processed but no reply arrived
  kBadReply,       // only replies that failed the checks arrived
  kFailed,         // a send failed otherwise, or no reply window, or a request already running
};

struct PathAnswer {
  RequestStatus status = RequestStatus::kFailed;
  std::u16string path;  // set for kResolved only
};

class AssistantClient final : private ReplySink {
 public:
  explicit AssistantClient(AssistantPort& port);
  ~AssistantClient();
  AssistantClient(const AssistantClient&) = delete;
  AssistantClient& operator=(const AssistantClient&) = delete;

  // The image path of the process that owns `target`.
  PathAnswer GetPath(WindowId target);
  // Asks Sidecar64 to end; kDelivered once it has taken the request.
  RequestStatus SendExit();

  // Replies that arrived and were not used: stray, late, or failing the checks.
  std::size_t IgnoredReplies() const { return ignored_replies_; }
  ReplyFault LastFault() const { return last_fault_; }

 private:
  void OnReply(const ReplyRecord& record) override;
  // Runs the handshake for one request text; kDelivered when the WM_COPYDATA was processed.
  RequestStatus Exchange(const std::u16string& text);

  AssistantPort& port_;
  bool busy_ = false;
  bool awaiting_ = false;
  WindowId awaited_target_ = 0;
  bool have_reply_ = false;
  bool saw_bad_reply_ = false;
  std::u16string reply_path_;
  std::size_t ignored_replies_ = 0;
  ReplyFault last_fault_ = ReplyFault::kNone;
};

const char* Describe(RequestStatus status);

}  // namespace quillon
