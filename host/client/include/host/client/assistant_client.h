// The host's side of Sidecar64's request channel.
//
// One request is one synchronous WM_NULL (Sidecar64 takes its mutex) followed by exactly one
// synchronous WM_COPYDATA (Sidecar64 executes the text and gives the mutex back). The client
// never opens the mutex itself, so it can never hold it while sending.
//
// The two sends never give up on their own: a send that timed out before the receiver took it
// may be withdrawn (Wine does that), and a withdrawn WM_COPYDATA after a taken WM_NULL would leave
// the mutex taken for good. So the port runs them apart from the caller (on a thread of its
// own on Windows), and only the caller's wait is bounded:
// - no receive window: nothing is sent; kNoAssistant.
// - GetPath for a handle that names no window: nothing is sent; kNotAWindow. (A window that goes
//   while Sidecar64 looks at it still ends with kNotAvailable.)
// - the window disappears (Sidecar64 ended or was killed): kAssistantGone. A dead process takes
//   nothing more, and the system abandons its mutex, so nothing is owed.
// - no answer within the time limit (Sidecar64 hangs, or waits for a mutex that someone else
//   holds): kTimedOut. The handshake goes on in the background and completes when Sidecar64
//   gets to it (or fails when it ends); until then further requests are not sent and end with
//   kBusy. A reply that arrives after its request timed out is ignored.
// - a reply that fails CheckReply is ignored and counted; without a valid reply the request
//   ends with kNoReply (or kBadReply when only invalid ones came).
//
// One client per thread: replies reach the reply window, which belongs to the thread that
// created the port, and are taken while that thread waits in AwaitHandshake. A request from any
// other thread is refused with kWrongThread and sends nothing; create, use and destroy the
// client on one thread.
#ifndef QUILLON_HOST_CLIENT_ASSISTANT_CLIENT_H
#define QUILLON_HOST_CLIENT_ASSISTANT_CLIENT_H

#include <cstddef>
#include <string>

#include "host/client/assistant_port.h"
#include "host/client/reply_check.h"

namespace quillon {

enum class RequestStatus {
  kResolved,       // a path came back
  kNotAvailable,   // Sidecar64 answered with the empty text: it cannot read that process's path
  kNotAWindow,     // the target names no window (told before sending): nothing sent
  kDelivered,      // a request without reply ("Exit") was processed
  kNoAssistant,    // no receive window
  kAssistantGone,  // the receive window went away during the request
  kTimedOut,       // Sidecar64 did not answer in time
  kBusy,           // an earlier request that timed out is still waiting for Sidecar64
  kNoReply,        // the request was processed but no reply arrived
  kBadReply,       // only replies that failed the checks arrived
  kWrongThread,    // called from a thread other than the one that made the port: nothing sent
  kFailed,         // a send failed otherwise, or no reply window, or a request already running
};

struct PathAnswer {
  RequestStatus status = RequestStatus::kFailed;
  std::u16string path;  // set for kResolved only
};

class AssistantClient final : private ReplySink {
 public:
  AssistantClient(AssistantPort& port, unsigned timeout_ms);
  ~AssistantClient() override;
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
  RequestStatus Exchange(std::u16string text);

  AssistantPort& port_;
  unsigned timeout_ms_;
  bool busy_ = false;     // inside Exchange
  bool pending_ = false;  // a handshake that timed out still runs
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

#endif  // QUILLON_HOST_CLIENT_ASSISTANT_CLIENT_H
