// The request logic, driven against scripted fakes: the sends of one handshake (exactly one
// WM_COPYDATA per WM_NULL), what the client reports in each failure, the handshake that outlives
// its time limit, and which replies are taken.
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
constexpr WindowId kNoSuchWindow = 0x6666;
constexpr unsigned kTimeout = 1234;

// --- RunHandshake ------------------------------------------------------------------------------

class RecordingSender final : public HandshakeSender {
 public:
  SendOutcome null_result = SendOutcome::kDone;
  SendOutcome text_result = SendOutcome::kDone;
  std::vector<std::u16string> sent;  // "NULL" for WM_NULL, else the WM_COPYDATA text

  SendOutcome SendNull(WindowId to) override {
    EXPECT_EQ(to, kReceiver);
    sent.push_back(u"NULL");
    return null_result;
  }
  SendOutcome SendText(WindowId to, std::u16string_view text) override {
    EXPECT_EQ(to, kReceiver);
    sent.emplace_back(text);
    return text_result;
  }
};

TEST(Handshake, OneCopyDataPerNull) {
  using S = SendOutcome;
  struct Case {
    const char* name;
    S null_result, text_result, outcome;
    bool text_sent;
  };
  const Case cases[] = {
      {"both processed", S::kDone, S::kDone, S::kDone, true},
      {"no window for WM_NULL: nothing owed", S::kNoWindow, S::kDone, S::kNoWindow, false},
      // The WM_NULL may or may not have been taken: its WM_COPYDATA follows either way.
      {"WM_NULL failed otherwise", S::kFailed, S::kDone, S::kDone, true},
      {"gone before WM_COPYDATA", S::kDone, S::kNoWindow, S::kNoWindow, true},
      {"WM_COPYDATA failed", S::kDone, S::kFailed, S::kFailed, true},
  };
  const std::u16string text = ExitRequest();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSender sender;
    sender.null_result = c.null_result;
    sender.text_result = c.text_result;
    EXPECT_EQ(RunHandshake(sender, kReceiver, text), c.outcome);
    std::vector<std::u16string> expected = {u"NULL"};
    if (c.text_sent) expected.push_back(text);
    EXPECT_EQ(sender.sent, expected);
  }
}

// --- AssistantClient ---------------------------------------------------------------------------

class FakePort final : public AssistantPort {
 public:
  WindowId receiver = kReceiver;
  WindowId reply_window = kReplyWindow;
  bool begin_fails = false;
  bool owner_thread = true;
  // What each AwaitHandshake returns, in turn; nothing scripted: kDone. std::nullopt: still
  // running when the wait ended.
  std::deque<std::optional<SendOutcome>> awaits;
  // Runs during a wait, as Sidecar64's reply would arrive; gets the request text.
  std::function<void(ReplySink&, const std::u16string&)> during_wait;
  std::vector<std::u16string> begun;
  std::vector<unsigned> waits;
  ReplySink* sink = nullptr;

  WindowId FindReceiveWindow() override { return receiver; }
  bool IsWindow(WindowId target) const override { return target != 0 && target != kNoSuchWindow; }
  WindowId ReplyWindow() const override { return reply_window; }
  bool OnOwnerThread() const override { return owner_thread; }
  void SetReplySink(ReplySink* s) override { sink = s; }
  bool BeginHandshake(WindowId to, std::u16string text) override {
    EXPECT_EQ(to, receiver);
    if (begin_fails) return false;
    begun.push_back(std::move(text));
    return true;
  }
  std::optional<SendOutcome> AwaitHandshake(unsigned timeout_ms) override {
    waits.push_back(timeout_ms);
    std::optional<SendOutcome> result = SendOutcome::kDone;
    if (!awaits.empty()) {
      result = awaits.front();
      awaits.pop_front();
    }
    if (timeout_ms != 0 && during_wait && sink && !begun.empty()) during_wait(*sink, begun.back());
    return result;
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
  port.during_wait = [path, target](ReplySink& sink, const std::u16string&) {
    Reply r(path, target);
    sink.OnReply(r.record);
  };
}

TEST(AssistantClient, ResolvesAPath) {
  FakePort port;
  AnswerWith(port, u"C:\\windows\\system32\\notepad.exe");
  AssistantClient client(port, kTimeout);
  const PathAnswer answer = client.GetPath(kTarget);
  EXPECT_EQ(answer.status, RequestStatus::kResolved);
  EXPECT_EQ(answer.path, u"C:\\windows\\system32\\notepad.exe");
  EXPECT_EQ(port.begun, std::vector<std::u16string>{GetPathRequest(kReplyWindow, kTarget)});
  EXPECT_EQ(port.waits, std::vector<unsigned>{kTimeout});
}

TEST(AssistantClient, EmptyReplyIsNotAvailable) {
  FakePort port;
  AnswerWith(port, u"");
  AssistantClient client(port, kTimeout);
  EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kNotAvailable);
}

// Sidecar64 answers a handle that names no window with the same empty text as a path it cannot
// read: the client tells them apart before it sends anything.
TEST(AssistantClient, NoWindowIsToldBeforeSending) {
  FakePort port;
  AnswerWith(port, u"");
  AssistantClient client(port, kTimeout);
  for (const WindowId target : {kNoSuchWindow, WindowId{0}}) {
    EXPECT_EQ(client.GetPath(target).status, RequestStatus::kNotAWindow);
  }
  EXPECT_TRUE(port.begun.empty());
  EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kNotAvailable);
}

TEST(AssistantClient, ExitIsOneHandshake) {
  FakePort port;
  AssistantClient client(port, kTimeout);
  EXPECT_EQ(client.SendExit(), RequestStatus::kDelivered);
  EXPECT_EQ(port.begun, std::vector<std::u16string>{ExitRequest()});
}

TEST(AssistantClient, NothingIsSentWithoutBothWindows) {
  FakePort no_receiver;
  no_receiver.receiver = 0;
  AssistantClient a(no_receiver, kTimeout);
  EXPECT_EQ(a.GetPath(kTarget).status, RequestStatus::kNoAssistant);
  EXPECT_EQ(a.SendExit(), RequestStatus::kNoAssistant);
  EXPECT_TRUE(no_receiver.begun.empty());

  FakePort no_reply_window;
  no_reply_window.reply_window = 0;
  AssistantClient b(no_reply_window, kTimeout);
  EXPECT_EQ(b.GetPath(kTarget).status, RequestStatus::kFailed);
  EXPECT_TRUE(no_reply_window.begun.empty());
}

TEST(AssistantClient, RefusesAnotherThread) {
  FakePort port;
  port.owner_thread = false;
  AnswerWith(port, u"C:\\p.exe");
  AssistantClient client(port, kTimeout);
  EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kWrongThread);
  EXPECT_EQ(client.SendExit(), RequestStatus::kWrongThread);
  EXPECT_TRUE(port.begun.empty());
  EXPECT_TRUE(port.waits.empty());
}

TEST(AssistantClient, HandshakeOutcomes) {
  struct Case {
    const char* name;
    bool begin_fails;
    std::optional<SendOutcome> outcome;
    RequestStatus status;
  };
  const Case cases[] = {
      {"processed without reply", false, SendOutcome::kDone, RequestStatus::kNoReply},
      {"Sidecar64 went away", false, SendOutcome::kNoWindow, RequestStatus::kAssistantGone},
      {"send failed", false, SendOutcome::kFailed, RequestStatus::kFailed},
      {"no answer in time", false, std::nullopt, RequestStatus::kTimedOut},
      {"handshake could not start", true, SendOutcome::kDone, RequestStatus::kFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakePort port;
    port.begin_fails = c.begin_fails;
    port.awaits = {c.outcome};
    AssistantClient client(port, kTimeout);
    EXPECT_EQ(client.GetPath(kTarget).status, c.status);
  }
}

TEST(AssistantClient, HandshakeThatOutlivesItsTimeLimit) {
  FakePort port;
  // 1st request: no answer in time. 2nd: the old handshake still runs (polled with 0), nothing
  // is started. 3rd: the old one has finished, a new one runs and is answered.
  port.awaits = {std::nullopt, std::nullopt, std::nullopt, SendOutcome::kDone, SendOutcome::kDone};
  AnswerWith(port, u"C:\\p.exe");
  AssistantClient client(port, kTimeout);
  EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kTimedOut);
  EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kBusy);
  EXPECT_EQ(client.SendExit(), RequestStatus::kBusy);
  EXPECT_EQ(port.begun.size(), 1u);
  const PathAnswer answer = client.GetPath(kTarget);
  EXPECT_EQ(answer.status, RequestStatus::kResolved);
  EXPECT_EQ(port.begun.size(), 2u);
  EXPECT_EQ(port.waits, (std::vector<unsigned>{kTimeout, 0, 0, 0, kTimeout}));
}

TEST(AssistantClient, IgnoresRepliesAboutOtherWindows) {
  FakePort port;
  port.during_wait = [](ReplySink& sink, const std::u16string&) {
    Reply stray(u"C:\\other.exe", kTarget + 4);
    sink.OnReply(stray.record);
    Reply ours(u"C:\\ours.exe", kTarget);
    sink.OnReply(ours.record);
  };
  AssistantClient client(port, kTimeout);
  const PathAnswer answer = client.GetPath(kTarget);
  EXPECT_EQ(answer.status, RequestStatus::kResolved);
  EXPECT_EQ(answer.path, u"C:\\ours.exe");
  EXPECT_EQ(client.IgnoredReplies(), 1u);
  EXPECT_EQ(client.LastFault(), ReplyFault::kNotOurs);
}

TEST(AssistantClient, OnlyAStrayReplyIsNoReply) {
  FakePort port;
  AnswerWith(port, u"C:\\other.exe", kTarget + 4);
  AssistantClient client(port, kTimeout);
  EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kNoReply);
}

TEST(AssistantClient, MalformedReplyIsBadReply) {
  FakePort port;
  port.during_wait = [](ReplySink& sink, const std::u16string&) {
    Reply r(u"C:\\x.exe", kTarget);
    r.record.cbData -= 2;  // terminator left out
    sink.OnReply(r.record);
  };
  AssistantClient client(port, kTimeout);
  EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kBadReply);
  EXPECT_EQ(client.LastFault(), ReplyFault::kUnterminated);
}

TEST(AssistantClient, KeepsTheFirstValidReply) {
  FakePort port;
  port.during_wait = [](ReplySink& sink, const std::u16string&) {
    Reply first(u"C:\\first.exe", kTarget);
    sink.OnReply(first.record);
    Reply second(u"C:\\second.exe", kTarget);
    sink.OnReply(second.record);
  };
  AssistantClient client(port, kTimeout);
  EXPECT_EQ(client.GetPath(kTarget).path, u"C:\\first.exe");
  EXPECT_EQ(client.IgnoredReplies(), 1u);
}

TEST(AssistantClient, RepliesOutsideARequestAreIgnored) {
  FakePort port;
  AssistantClient client(port, kTimeout);
  Reply late(u"C:\\late.exe", kTarget);
  port.sink->OnReply(late.record);  // e.g. the answer to a request that timed out
  EXPECT_EQ(client.IgnoredReplies(), 1u);
  // ...and it does not leak into the next request, which gets no reply of its own.
  EXPECT_EQ(client.GetPath(kTarget).status, RequestStatus::kNoReply);
}

TEST(AssistantClient, RefusesANestedRequest) {
  // A request started from inside another one (from a message handled while waiting) would
  // interleave two handshakes; it is refused without sending anything.
  FakePort port;
  AssistantClient* outer = nullptr;
  PathAnswer nested;
  RequestStatus nested_exit = RequestStatus::kDelivered;
  port.during_wait = [&](ReplySink&, const std::u16string&) {
    nested = outer->GetPath(kTarget);
    nested_exit = outer->SendExit();
  };
  AssistantClient client(port, kTimeout);
  outer = &client;
  client.GetPath(kTarget);
  EXPECT_EQ(nested.status, RequestStatus::kFailed);
  EXPECT_EQ(nested_exit, RequestStatus::kFailed);
  EXPECT_EQ(port.begun.size(), 1u);
}

}  // namespace
}  // namespace quillon
