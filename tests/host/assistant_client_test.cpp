// The handshake, driven against a scripted port: what is sent in each failure, that every
// WM_NULL that may have reached Sidecar64 is followed by exactly one WM_COPYDATA, and which
// replies are taken.
#include "host/client/assistant_client.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "host/client/request_text.h"

namespace quillon {
namespace {

constexpr WindowId kReceiver = 0x4000;
constexpr WindowId kReplyWindow = 0x5000;
constexpr WindowId kTarget = 0x6000;

class FakePort final : public AssistantPort {
 public:
  struct Sent {
    bool is_null;
    std::u16string text;
  };

  WindowId receiver = kReceiver;
  WindowId reply_window = kReplyWindow;
  std::deque<SendOutcome> null_outcomes;  // default kDone
  std::deque<SendOutcome> text_outcomes;  // default kDone
  // Runs while SendText "waits", as Sidecar64's reply would arrive.
  std::function<void(ReplySink&, std::u16string_view)> during_text;
  std::vector<Sent> sent;
  ReplySink* sink = nullptr;

  WindowId FindReceiveWindow() override { return receiver; }
  WindowId ReplyWindow() const override { return reply_window; }
  void SetReplySink(ReplySink* s) override { sink = s; }
  SendOutcome SendNull(WindowId to) override {
    EXPECT_EQ(to, receiver);
    sent.push_back({true, {}});
    return Next(null_outcomes);
  }
  SendOutcome SendText(WindowId to, std::u16string_view text) override {
    EXPECT_EQ(to, receiver);
    sent.push_back({false, std::u16string(text)});
    const SendOutcome outcome = Next(text_outcomes);
    if (outcome == SendOutcome::kDone && during_text && sink) during_text(*sink, text);
    return outcome;
  }

  // Every WM_NULL is directly followed by one WM_COPYDATA, unless it found no window.
  void ExpectBalanced(const std::vector<SendOutcome>& null_results) const {
    std::size_t n = 0;
    for (std::size_t i = 0; i < sent.size(); ++i) {
      if (!sent[i].is_null) continue;
      ASSERT_LT(n, null_results.size());
      if (null_results[n++] == SendOutcome::kNoWindow) continue;
      ASSERT_LT(i + 1, sent.size()) << "WM_NULL without its WM_COPYDATA";
      EXPECT_FALSE(sent[i + 1].is_null) << "two WM_NULL in a row";
    }
  }

 private:
  static SendOutcome Next(std::deque<SendOutcome>& q) {
    if (q.empty()) return SendOutcome::kDone;
    SendOutcome o = q.front();
    q.pop_front();
    return o;
  }
};

// A reply record built from a text, as Sidecar64 sends it.
struct Reply {
  std::u16string units;
  ReplyRecord record;
  Reply(std::u16string_view path, WindowId target) : units(path) {
    units.push_back(u'\0');
    record.wParam = target;
    record.dwData = target;
    record.cbData = static_cast<std::uint32_t>(units.size() * 2);
    record.data = units.data();
    record.available = record.cbData;
  }
};

void AnswerWith(FakePort& port, std::u16string path, WindowId target = kTarget) {
  port.during_text = [path, target](ReplySink& sink, std::u16string_view) {
    Reply r(path, target);
    sink.OnReply(r.record);
  };
}

TEST(AssistantClient, ResolvesAPath) {
  FakePort port;
  AnswerWith(port, u"C:\\windows\\system32\\notepad.exe");
  AssistantClient client(port);
  const PathAnswer answer = client.GetPath(kTarget);
  EXPECT_EQ(answer.status, RequestStatus::kResolved);
  EXPECT_EQ(answer.path, u"C:\\windows\\system32\\notepad.exe");
  ASSERT_EQ(port.sent.size(), 2u);
  EXPECT_TRUE(port.sent[0].is_null);
  EXPECT_EQ(port.sent[1].text, GetPathRequest(kReplyWindow, kTarget));
}

TEST(AssistantClient, EmptyReplyIsNotAvailable) {
  FakePort port;
  AnswerWith(port, u"");
  AssistantClient client(port);
  EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kNotAvailable);
}

TEST(AssistantClient, ExitIsOneHandshake) {
  FakePort port;
  AssistantClient client(port);
  EXPECT_EQ(client.SendExit(), RequestStatus::kDelivered);
  ASSERT_EQ(port.sent.size(), 2u);
  EXPECT_EQ(port.sent[1].text, ExitRequest());
}

TEST(AssistantClient, NoReceiveWindowSendsNothing) {
  FakePort port;
  port.receiver = 0;
  AssistantClient client(port);
  EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kNoAssistant);
  EXPECT_EQ(client.SendExit(), RequestStatus::kNoAssistant);
  EXPECT_TRUE(port.sent.empty());
}

TEST(AssistantClient, NoReplyWindowSendsNothing) {
  FakePort port;
  port.reply_window = 0;
  AssistantClient client(port);
  EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kFailed);
  EXPECT_TRUE(port.sent.empty());
}

// Each failure of either send: the status, and what the WM_COPYDATA after the WM_NULL carried.
TEST(AssistantClient, SendFailuresKeepOneCopyDataPerNull) {
  struct Case {
    const char* name;
    SendOutcome null_result, text_result;
    RequestStatus status;
    bool text_sent;
    bool real_request;  // the GetPath text, not the balancing one
  };
  using S = SendOutcome;
  using R = RequestStatus;
  const Case cases[] = {
      {"gone before WM_NULL", S::kNoWindow, S::kDone, R::kAssistantGone, false, false},
      {"WM_NULL timed out", S::kTimedOut, S::kTimedOut, R::kTimedOut, true, false},
      {"WM_NULL timed out, then gone", S::kTimedOut, S::kNoWindow, R::kAssistantGone, true, false},
      {"WM_NULL failed otherwise", S::kFailed, S::kDone, R::kFailed, true, false},
      {"WM_COPYDATA timed out", S::kDone, S::kTimedOut, R::kTimedOut, true, true},
      {"gone during WM_COPYDATA", S::kDone, S::kNoWindow, R::kAssistantGone, true, true},
      {"WM_COPYDATA failed", S::kDone, S::kFailed, R::kFailed, true, true},
      {"processed without reply", S::kDone, S::kDone, R::kNoReply, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakePort port;
    port.null_outcomes = {c.null_result};
    port.text_outcomes = {c.text_result};
    AssistantClient client(port);
    EXPECT_EQ(client.GetPath(kTarget).status, c.status);
    ASSERT_EQ(port.sent.size(), c.text_sent ? 2u : 1u);
    port.ExpectBalanced({c.null_result});
    if (c.text_sent) {
      EXPECT_EQ(port.sent[1].text,
                c.real_request ? GetPathRequest(kReplyWindow, kTarget) : BalancingRequest());
    }
  }
}

TEST(AssistantClient, HangsThenRecovers) {
  // Three requests while Sidecar64 hangs, then it answers again: every request stays balanced.
  FakePort port;
  port.null_outcomes = {SendOutcome::kTimedOut, SendOutcome::kTimedOut, SendOutcome::kTimedOut};
  port.text_outcomes = {SendOutcome::kTimedOut, SendOutcome::kTimedOut, SendOutcome::kTimedOut};
  AnswerWith(port, u"C:\\p.exe");
  AssistantClient client(port);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kTimedOut);
  EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kResolved);
  ASSERT_EQ(port.sent.size(), 8u);
  port.ExpectBalanced(std::vector<SendOutcome>(4, SendOutcome::kTimedOut));
}

TEST(AssistantClient, IgnoresRepliesAboutOtherWindows) {
  FakePort port;
  port.during_text = [](ReplySink& sink, std::u16string_view) {
    Reply stray(u"C:\\other.exe", kTarget + 4);
    sink.OnReply(stray.record);
    Reply ours(u"C:\\ours.exe", kTarget);
    sink.OnReply(ours.record);
  };
  AssistantClient client(port);
  const PathAnswer answer = client.GetPath(kTarget);
  EXPECT_EQ(answer.status, RequestStatus::kResolved);
  EXPECT_EQ(answer.path, u"C:\\ours.exe");
  EXPECT_EQ(client.IgnoredReplies(), 1u);
  EXPECT_EQ(client.LastFault(), ReplyFault::kNotOurs);
}

TEST(AssistantClient, OnlyAStrayReplyIsNoReply) {
  FakePort port;
  AnswerWith(port, u"C:\\other.exe", kTarget + 4);
  AssistantClient client(port);
  EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kNoReply);
}

TEST(AssistantClient, MalformedReplyIsBadReply) {
  FakePort port;
  port.during_text = [](ReplySink& sink, std::u16string_view) {
    Reply r(u"C:\\x.exe", kTarget);
    r.record.cbData -= 2;  // terminator left out
    sink.OnReply(r.record);
  };
  AssistantClient client(port);
  EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kBadReply);
  EXPECT_EQ(client.LastFault(), ReplyFault::kUnterminated);
}

TEST(AssistantClient, KeepsTheFirstValidReply) {
  FakePort port;
  port.during_text = [](ReplySink& sink, std::u16string_view) {
    Reply first(u"C:\\first.exe", kTarget);
    sink.OnReply(first.record);
    Reply second(u"C:\\second.exe", kTarget);
    sink.OnReply(second.record);
  };
  AssistantClient client(port);
  EXPECT_EQ(client.GetPath(kTarget).path, u"C:\\first.exe");
  EXPECT_EQ(client.IgnoredReplies(), 1u);
}

TEST(AssistantClient, RepliesOutsideARequestAreIgnored) {
  FakePort port;
  AssistantClient client(port);
  Reply late(u"C:\\late.exe", kTarget);
  port.sink->OnReply(late.record);  // e.g. the answer to a request that timed out
  EXPECT_EQ(client.IgnoredReplies(), 1u);
  // ...and does not leak into the next request, which gets no reply of its own.
  EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kNoReply);
}

TEST(AssistantClient, RefusesANestedRequest) {
  // A request started from inside another one (say, from a message handled while waiting)
  // would interleave two handshakes; it is refused without sending anything.
  FakePort port;
  AssistantClient* outer = nullptr;
  PathAnswer nested;
  port.during_text = [&](ReplySink&, std::u16string_view) { nested = outer->GetPath(kTarget); };
  AssistantClient client(port);
  outer = &client;
  client.GetPath(kTarget);
  EXPECT_EQ(nested.status, RequestStatus::kFailed);
  EXPECT_EQ(port.sent.size(), 2u);
}

}  // namespace
}  // namespace quillon
