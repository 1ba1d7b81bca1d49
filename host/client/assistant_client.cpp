#include "host/client/assistant_client.h"

#include <utility>

#include "host/client/request_text.h"

namespace quillon {

AssistantClient::AssistantClient(AssistantPort& port, unsigned timeout_ms)
    : port_(port), timeout_ms_(timeout_ms) {
  port_.SetReplySink(this);
}

AssistantClient::~AssistantClient() { port_.SetReplySink(nullptr); }

PathAnswer AssistantClient::GetPath(WindowId target) {
  if (!port_.OnOwnerThread()) return {RequestStatus::kWrongThread, {}};
  const WindowId reply_window = port_.ReplyWindow();
  if (busy_ || reply_window == 0) return {RequestStatus::kFailed, {}};
  if (!port_.IsWindow(target)) return {RequestStatus::kNotAWindow, {}};

  awaiting_ = true;
  awaited_target_ = target;
  have_reply_ = false;
  saw_bad_reply_ = false;
  reply_path_.clear();
  const RequestStatus sent = Exchange(GetPathRequest(reply_window, target));
  awaiting_ = false;

  if (sent != RequestStatus::kDelivered) return {sent, {}};
  if (have_reply_) {
    if (reply_path_.empty()) return {RequestStatus::kNotAvailable, {}};
    return {RequestStatus::kResolved, std::move(reply_path_)};
  }
  return {saw_bad_reply_ ? RequestStatus::kBadReply : RequestStatus::kNoReply, {}};
}

RequestStatus AssistantClient::SendExit() {
  if (!port_.OnOwnerThread()) return RequestStatus::kWrongThread;
  if (busy_) return RequestStatus::kFailed;
  return Exchange(ExitRequest());
}

RequestStatus AssistantClient::Exchange(std::u16string text) {
  busy_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{busy_};

  if (pending_) {
    // A WM_NULL of that request may be taken and its WM_COPYDATA not yet: starting another
    // request now could only queue behind it.
    if (!port_.AwaitHandshake(0)) return RequestStatus::kBusy;
    pending_ = false;
  }
  const WindowId receiver = port_.FindReceiveWindow();
  if (receiver == 0) return RequestStatus::kNoAssistant;
  if (!port_.BeginHandshake(receiver, std::move(text))) return RequestStatus::kFailed;

  const std::optional<SendOutcome> outcome = port_.AwaitHandshake(timeout_ms_);
  if (!outcome) {
    pending_ = true;
    return RequestStatus::kTimedOut;
  }
  switch (*outcome) {
    case SendOutcome::kDone:
      return RequestStatus::kDelivered;
    case SendOutcome::kNoWindow:
      return RequestStatus::kAssistantGone;
    case SendOutcome::kFailed:
      break;
  }
  return RequestStatus::kFailed;
}

void AssistantClient::OnReply(const ReplyRecord& record) {
  if (!awaiting_ || have_reply_) {
    ++ignored_replies_;
    return;
  }
  CheckedReply checked = CheckReply(record, awaited_target_);
  if (checked.fault != ReplyFault::kNone) {
    ++ignored_replies_;
    last_fault_ = checked.fault;
    // A reply about another window is someone else's, not a broken answer to ours.
    if (checked.fault != ReplyFault::kNotOurs) saw_bad_reply_ = true;
    return;
  }
  have_reply_ = true;
  reply_path_ = std::move(checked.path);
}

const char* Describe(RequestStatus status) {
  switch (status) {
    case RequestStatus::kResolved:
      return "resolved";
    case RequestStatus::kNotAvailable:
      return "not available";
    case RequestStatus::kNotAWindow:
      return "no such window";
    case RequestStatus::kDelivered:
      return "delivered";
    case RequestStatus::kNoAssistant:
      return "Sidecar64 not running";
    case RequestStatus::kAssistantGone:
      return "Sidecar64 went away";
    case RequestStatus::kTimedOut:
      return "Sidecar64 did not answer in time";
    case RequestStatus::kBusy:
      return "Sidecar64 still busy with an earlier request";
    case RequestStatus::kNoReply:
      return "no reply";
    case RequestStatus::kBadReply:
      return "invalid reply";
    case RequestStatus::kWrongThread:
      return "called from a thread other than the client's";
    case RequestStatus::kFailed:
      return "request failed";
  }
  return "unknown";
}

}  // namespace quillon
