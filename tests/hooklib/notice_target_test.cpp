#include "hooklib/notice_target.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace quillon {
namespace {

constexpr WindowId kOldDialog = 0xD1A;
constexpr WindowId kNewDialog = 0xD1B;

struct Posted {
  WindowId target;
  unsigned message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
  bool operator==(const Posted&) const = default;
};

// A window system with a hand-moved clock: posts reach the windows in `live` (unless their queue
// is full); the walk finds whatever `hostDialog` holds.
struct FakeNoticePort {
  bool Post(WindowId target, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (live.count(target) == 0 || queueFull) return false;
    posted.push_back({target, message, wParam, lParam});
    return true;
  }
  std::uint32_t NowMs() const { return now; }
  WindowId FindHostDialog() {
    walks.fetch_add(1);
    return hostDialog;
  }

  std::set<WindowId> live;
  bool queueFull = false;
  std::uint32_t now = 100000;
  WindowId hostDialog = 0;
  std::atomic<int> walks{0};
  std::vector<Posted> posted;
};

constexpr WindowId kWindow = 0x1234;

// The notice as the host receives it.
Posted NoticeTo(WindowId dialog) { return {dialog, 0x0F, kWindow, 0x80}; }

// One process's shared state, as the attach routine leaves it.
struct Process {
  Process(WindowId attached, std::uint32_t attachedAt) : dialog(attached), lastWalkMs(attachedAt) {}
  bool Notify(FakeNoticePort& port) { return PostNotice(port, dialog, lastWalkMs, kWindow); }
  std::atomic<WindowId> dialog;
  std::atomic<std::uint32_t> lastWalkMs;
};

TEST(NoticeTarget, TheDialogFoundAtAttachServesWhileItIsAWindow) {
  FakeNoticePort port;
  port.live = {kOldDialog, kNewDialog};
  port.hostDialog = kNewDialog;  // another dialog would be found first now: it must not matter
  Process process(kOldDialog, port.now - 60000);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(process.Notify(port));
  EXPECT_EQ(port.posted, std::vector<Posted>(3, NoticeTo(kOldDialog)));
  EXPECT_EQ(port.walks, 0);
}

TEST(NoticeTarget, ADialogThatIsGoneIsLookedForAgainAndTheOneFoundServesFromThenOn) {
  FakeNoticePort port;
  port.live = {kNewDialog};
  port.hostDialog = kNewDialog;
  Process process(kOldDialog, port.now - 60000);

  EXPECT_TRUE(process.Notify(port));
  EXPECT_EQ(port.walks, 1);
  port.now += 1;
  EXPECT_TRUE(process.Notify(port));
  EXPECT_EQ(port.walks, 1) << "the dialog found is kept";
  EXPECT_EQ(port.posted, std::vector<Posted>(2, NoticeTo(kNewDialog)));
}

TEST(NoticeTarget, AProcessThatAttachedWithoutADialogFindsOneLater) {
  FakeNoticePort port;
  Process process(0, port.now);
  EXPECT_FALSE(process.Notify(port)) << "the attach has just walked";
  EXPECT_EQ(port.walks, 0);
  port.now += kRewalkIntervalMs;
  port.hostDialog = kNewDialog;
  port.live = {kNewDialog};
  EXPECT_TRUE(process.Notify(port));
  EXPECT_EQ(port.walks, 1);
  EXPECT_EQ(port.posted, std::vector<Posted>{NoticeTo(kNewDialog)});
}

TEST(NoticeTarget, AFloodWhileNoHostRunsWalksOncePerInterval) {
  FakeNoticePort port;
  Process process(kOldDialog, port.now - 60000);
  constexpr std::uint32_t kFloodMs = 2000;
  for (std::uint32_t ms = 0; ms < kFloodMs; ++ms, ++port.now) {
    for (int call = 0; call < 10; ++call) EXPECT_FALSE(process.Notify(port));
  }
  EXPECT_EQ(port.walks, static_cast<int>(kFloodMs / kRewalkIntervalMs));
  EXPECT_TRUE(port.posted.empty());
}

TEST(NoticeTarget, AWalkThatFindsNothingForgetsTheDeadDialog) {
  FakeNoticePort port;
  Process process(kOldDialog, port.now - 60000);
  EXPECT_FALSE(process.Notify(port));
  // The dead dialog's handle now names some other program's window.
  port.live = {kOldDialog};
  port.now += 1;
  EXPECT_FALSE(process.Notify(port));
  EXPECT_EQ(port.walks, 1);
  EXPECT_TRUE(port.posted.empty());
}

TEST(NoticeTarget, ADialogWithAFullQueueIsFoundAgainButNotPostedToTwice) {
  FakeNoticePort port;
  port.live = {kOldDialog};
  port.hostDialog = kOldDialog;
  port.queueFull = true;
  Process process(kOldDialog, port.now - 60000);
  EXPECT_FALSE(process.Notify(port));
  EXPECT_EQ(port.walks, 1);
  port.queueFull = false;
  port.now += 1;
  EXPECT_TRUE(process.Notify(port));
  EXPECT_EQ(port.walks, 1);
  EXPECT_EQ(port.posted, std::vector<Posted>{NoticeTo(kOldDialog)});
}

struct WrapCase {
  const char* name;
  std::uint32_t lastWalk, now;
  bool walks;
};

const WrapCase kWrapCases[] = {
    {"JustBeforeTheInterval", 1000, 1000 + kRewalkIntervalMs - 1, false},
    {"AtTheInterval", 1000, 1000 + kRewalkIntervalMs, true},
    {"AcrossTheWrapTooSoon", 0xFFFFFF00u, 0x50, false},
    {"AcrossTheWrapLateEnough", 0xFFFFFF00u, 0x100, true},
};

class NoticeTargetClock : public testing::TestWithParam<WrapCase> {};

TEST_P(NoticeTargetClock, TheIntervalIsMeasuredOnTheWrappingClock) {
  const WrapCase& c = GetParam();
  FakeNoticePort port;
  port.now = c.now;
  Process process(kOldDialog, c.lastWalk);
  process.Notify(port);
  EXPECT_EQ(port.walks, c.walks ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, NoticeTargetClock, testing::ValuesIn(kWrapCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(NoticeTarget, ThreadsThatFindTheDialogGoneAtOnceWalkOnlyOnce) {
  FakeNoticePort port;
  port.hostDialog = kNewDialog;
  Process process(kOldDialog, port.now - 60000);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      while (!go) std::this_thread::yield();
      for (int call = 0; call < 100; ++call) process.Notify(port);
    });
  }
  go = true;
  for (std::thread& t : threads) t.join();
  // The clock stands still and the dialog found is no window: one walk won the interval. (No
  // post reaches `posted`, which is not shared safely.)
  EXPECT_EQ(port.walks, 1);
}

}  // namespace
}  // namespace quillon
