#include "host/client/assistant_client.h"

#include "host/client/request_text.h"

namespace quillon {

AssistantClient::AssistantClient(AssistantPort& port) : port_(port) { port_.SetReplySink(this); }

AssistantClient::~AssistantClient() { port_.SetReplySink(nullptr); }

PathAnswer AssistantClient::GetPath(WindowId target) {
  const WindowId reply_window = port_.ReplyWindow();
  if (busy_ || reply_window == 0) return {RequestStatus::kFailed, {}};

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
  if (busy_) return RequestStatus::kFailed;
  return Exchange(ExitRequest());
}

RequestStatus AssistantClient::Exchange(const std::u16string& text) {
  const WindowId receiver = port_.FindReceiveWindow();
  if (receiver == 0) return RequestStatus::kNoAssistant;

  busy_ = true;
  const SendOutcome taken = port_.SendNull(receiver);
  if (taken == SendOutcome::kNoWindow) {
    busy_ = false;
    return RequestStatus::kAssistantGone;
  }
  // From here on exactly one WM_COPYDATA follows, whatever became of the WM_NULL.
  const bool mutex_taken = taken == SendOutcome::kDone;
  const SendOutcome executed = port_.SendText(receiver, mutex_taken ? text : BalancingRequest());
  busy_ = false;

  if (!mutex_taken) {
    if (executed == SendOutcome::kNoWindow) return RequestStatus::kAssistantGone;
    return taken == SendOutcome::kTimedOut ? RequestStatus::kTimedOut : RequestStatus::kFailed;
  }
  switch (executed) {
    case SendOutcome::kDone:
      return RequestStatus::kDelivered;
    case SendOutcome::kTimedOut:
      return RequestStatus::kTimedOut;
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
    case RequestStatus::kDelivered:
      return "delivered";
    case RequestStatus::kNoAssistant:
      return "Sidecar64 not running";
    case RequestStatus::kAssistantGone:
      return "Sidecar64 went away";
    case RequestStatus::kTimedOut:
      return "Sidecar64 did not answer in time";
    case RequestStatus::kNoReply:
      return "no reply";
    case RequestStatus::kBadReply:
      return "invalid reply";
    case RequestStatus::kFailed:
      return "request failed";
  }
  return "unknown";
}

}  // namespace quillon
