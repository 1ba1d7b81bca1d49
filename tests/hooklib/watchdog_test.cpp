#include "hooklib/watchdog.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "settings/text.h"
#include "tests/hooklib/fake_desktop.h"

namespace quillon {
namespace {

// A store that answers every read with one fixed outcome and records what was asked.
struct FakeSettings {
  bool ReadValue(const CTextA& section, const CTextA& key, CTextA& value) const {
    asked.push_back(std::string(section.GetText()) + "|" + key.GetText());
    if (stored) value = stored->c_str();
    return stored.has_value() && !stored->empty();
  }
  std::optional<std::string> stored;
  mutable std::vector<std::string> asked;
};

// Windows of the desktop exist until destroyed; `live` adds the host's main windows.
class FakeWatchdogPort final : public WatchdogPort {
 public:
  explicit FakeWatchdogPort(const test::FakeDesktop& desktop) : desktop_(desktop) {}

  bool IsWindow(std::uintptr_t window) override {
    checked.push_back(window);
    return live.count(window) != 0 || desktop_.Exists(window);
  }
  void Unhook(std::uintptr_t hook) override {
    unhooked.push_back(hook);
    calls.push_back("unhook");
  }
  bool RunsAsOwnerOf(std::uintptr_t window) override {
    ownerAsked.push_back(window);
    return sameUser;
  }
  void SetTimerPeriod(unsigned periodMs) override { periods.push_back(periodMs); }
  bool HookCallsInFlight() override { return inFlight; }
  void StopTimer() override { calls.push_back("stop timer"); }
  void ReleaseModule() override { calls.push_back("release module"); }

  std::set<std::uintptr_t> live;
  bool inFlight = false;
  bool sameUser = true;  // whether this process runs as the user of the host's dialog
  std::vector<std::uintptr_t> ownerAsked;
  std::vector<unsigned> periods;  // every change of the timer's period, in order
  std::vector<std::uintptr_t> checked;
  std::vector<std::uintptr_t> unhooked;
  std::vector<std::string> calls;  // everything but the window checks, in order

 private:
  const test::FakeDesktop& desktop_;
};

constexpr std::uintptr_t kHook = 0xB00C;
constexpr std::uintptr_t kNewHook = 0xB00D;

// One process's watchdog, armed for a host whose chain and dialog (with the hook property) are on
// the desktop; the host's main window counts as alive while it is in `port.live`.
struct Watchdog {
  Watchdog() {
    const test::Chain chain = test::AddChain(desktop);
    target = {kHook, test::AddDialog(desktop, chain.taskSwitch, "Quillon", kHook)};
    armedFor = target;
  }
  WatchdogStage Tick(WatchdogStage current) {
    return WatchdogTick<FakeSettings, CTextA>(settings, port, desktop, target, confirmation,
                                              current);
  }
  // The look that finds no live host, and its confirmation.
  WatchdogStage TickAndConfirm(WatchdogStage current) {
    const std::size_t unhooks = port.unhooked.size();
    const WatchdogStage stage = Tick(current);
    EXPECT_EQ(stage, WatchdogStage::kWatching) << "a first failed look only asks for another";
    EXPECT_EQ(port.unhooked.size(), unhooks);
    return Tick(stage);
  }
  // The host ends its dialog and shell chain, and a new one appears with `title` and `hook`.
  WatchdogTarget Restart(const char* title, HookRef hook) {
    desktop.Destroy(firstTray());
    const test::Chain chain = test::AddChain(desktop);
    return {hook, test::AddDialog(desktop, chain.taskSwitch, title, hook)};
  }
  WindowId firstTray() const { return 0x10; }

  test::FakeDesktop desktop;
  FakeSettings settings{"77", {}};
  FakeWatchdogPort port{desktop};
  LivenessConfirmation confirmation;
  WatchdogTarget target, armedFor;
};

struct TickCase {
  const char* name;
  std::optional<std::string> stored;  // nullopt: no value, no file
  std::optional<std::uintptr_t> checkedWindow;
  bool removes;
};

const TickCase kTickCases[] = {
    {"LiveWindow", "123", 123, false},
    {"LeadingWhiteSpace", " \t\n\v\f\r123", 123, false},
    {"TrailingLetters", "123abc", 123, false},
    {"PlusSign", "+123", 123, false},
    {"AllBitsSet", "4294967295", 0xFFFFFFFFu, false},
    {"MinusOneIsAllBitsSet", "-1", 0xFFFFFFFFu, false},
    {"WrapsAt32Bits", "4294967419", 123, false},
    {"HexNotationReadsAsZero", "0x7B", 0, true},
    {"DeadWindow", "555", 555, true},
    {"NotANumber", "abc", 0, true},
    {"EmptyValue", "", std::nullopt, true},
    {"NoValue", std::nullopt, std::nullopt, true},
};

class WatchdogTickCase : public testing::TestWithParam<TickCase> {};

TEST_P(WatchdogTickCase, RemovesTheHookWhenTwoLooksFindNoLiveWindow) {
  const TickCase& c = GetParam();
  Watchdog w;
  w.settings.stored = c.stored;
  w.port.live = {123, 0xFFFFFFFFu};
  FakeSettings& settings = w.settings;
  FakeWatchdogPort& port = w.port;

  WatchdogStage after = w.Tick(WatchdogStage::kWatching);

  EXPECT_EQ(settings.asked, std::vector<std::string>{"Options\\Windows\\Main|Handle"});
  if (c.checkedWindow) {
    ASSERT_FALSE(port.checked.empty());
    EXPECT_EQ(port.checked[0], *c.checkedWindow);
  } else {
    EXPECT_TRUE(port.checked.empty());
  }
  EXPECT_EQ(after, WatchdogStage::kWatching);
  EXPECT_TRUE(port.unhooked.empty()) << "one look is never enough";
  if (!c.removes) {
    EXPECT_TRUE(port.periods.empty());
    return;
  }
  EXPECT_EQ(port.periods, std::vector<unsigned>{1000});

  after = w.Tick(after);
  EXPECT_EQ(settings.asked.size(), 2u);
  EXPECT_EQ(port.unhooked, std::vector<std::uintptr_t>{kHook});
  EXPECT_EQ(after, WatchdogStage::kRetiring);
  EXPECT_EQ(port.periods, (std::vector<unsigned>{1000, 10000})) << "retiring on the period";
}

INSTANTIATE_TEST_SUITE_P(Values, WatchdogTickCase, testing::ValuesIn(kTickCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(WatchdogTick, HostGoneAsksForTheRemovalOnceThenStopsAndLetsTheModuleGo) {
  Watchdog w;

  WatchdogStage stage = w.TickAndConfirm(WatchdogStage::kWatching);
  EXPECT_EQ(stage, WatchdogStage::kRetiring);
  EXPECT_EQ(w.port.calls, std::vector<std::string>{"unhook"});

  // The host coming back changes nothing now: the removal has been asked for.
  w.port.live.insert(77);
  stage = w.Tick(stage);
  EXPECT_EQ(stage, WatchdogStage::kRetired);
  EXPECT_EQ(w.port.calls, (std::vector<std::string>{"unhook", "stop timer", "release module"}));
  EXPECT_EQ(w.settings.asked.size(), 2u) << "a retiring tick reads no settings";

  stage = w.Tick(stage);
  EXPECT_EQ(stage, WatchdogStage::kRetired);
  EXPECT_EQ(w.port.calls.size(), 3u);
  EXPECT_EQ(w.settings.asked.size(), 2u);
}

// Each tick's look, in order: whether the value is there (the host saves its file, or has gone),
// and what the watchdog does about it.
struct ConfirmationCase {
  const char* name;
  std::vector<bool> valuePresent;  // one entry per tick
  std::vector<unsigned> periods;   // the timer's period changes over all ticks
  bool removes;                    // after the last tick
};

const ConfirmationCase kConfirmationCases[] = {
    {"ASaveOnTheTickIsOverByTheConfirmation", {false, true}, {1000, 10000}, false},
    {"ASaveOnEveryOtherTickNeverRemoves",
     {false, true, false, true, false, true},
     {1000, 10000, 1000, 10000, 1000, 10000},
     false},
    {"AliveAfterwardsStaysOnThePeriod", {false, true, true, true}, {1000, 10000}, false},
    {"GoneForGoodRemovesAtTheConfirmation", {false, false}, {1000, 10000}, true},
    {"GoneAfterASaveRemovesAtItsOwnConfirmation",
     {false, true, true, false, false},
     {1000, 10000, 1000, 10000},
     true},
};

class WatchdogConfirmation : public testing::TestWithParam<ConfirmationCase> {};

TEST_P(WatchdogConfirmation, OnlyTwoFailedLooksInARowRemoveTheHook) {
  const ConfirmationCase& c = GetParam();
  Watchdog w;
  w.port.live = {77};
  WatchdogStage stage = WatchdogStage::kWatching;
  for (std::size_t i = 0; i < c.valuePresent.size(); ++i) {
    EXPECT_EQ(stage, WatchdogStage::kWatching) << "before tick " << i;
    if (c.valuePresent[i]) {
      w.settings.stored = "77";
    } else {
      w.settings.stored.reset();
    }
    stage = w.Tick(stage);
  }
  EXPECT_EQ(w.port.periods, c.periods);
  if (c.removes) {
    EXPECT_EQ(stage, WatchdogStage::kRetiring);
    EXPECT_EQ(w.port.unhooked, std::vector<std::uintptr_t>{kHook});
  } else {
    EXPECT_EQ(stage, WatchdogStage::kWatching);
    EXPECT_TRUE(w.port.calls.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, WatchdogConfirmation, testing::ValuesIn(kConfirmationCases),
                         [](const auto& param) { return std::string(param.param.name); });

// A confirmed failed look in a process of another user than the host's: it read its own user's
// file, which says nothing about this host, so it leaves the hook alone while the host's dialog
// is there to be judged by its owner's processes.
struct OwnerCase {
  const char* name;
  bool sameUser;       // what the port says about the dialog's owner
  bool dialogThere;    // whether the watched dialog still exists
  const char* stored;  // the value this process reads
  bool removes;
};

const OwnerCase kOwnerCases[] = {
    {"TheHostsOwnUserRemoves", true, true, nullptr, true},
    {"AnotherUserWithNoFileLeavesTheHook", false, true, nullptr, false},
    {"AnotherUserWithADeadHandleLeavesTheHook", false, true, "555", false},
    {"DialogGoneTooRemovesWhoeverAsks", false, false, nullptr, true},
};

class WatchdogOwner : public testing::TestWithParam<OwnerCase> {};

TEST_P(WatchdogOwner, OnlyTheHostsOwnUserRemovesOnAConfirmedFailure) {
  const OwnerCase& c = GetParam();
  Watchdog w;
  w.port.sameUser = c.sameUser;
  if (c.stored != nullptr) {
    w.settings.stored = c.stored;
  } else {
    w.settings.stored.reset();
  }
  if (!c.dialogThere) w.desktop.Destroy(w.target.hostDialog);

  WatchdogStage stage = w.TickAndConfirm(WatchdogStage::kWatching);
  EXPECT_EQ(stage, WatchdogStage::kRetiring);
  if (c.removes) {
    EXPECT_EQ(w.port.unhooked, std::vector<std::uintptr_t>{kHook});
  } else {
    EXPECT_EQ(w.port.ownerAsked, std::vector<std::uintptr_t>{w.target.hostDialog});
    EXPECT_TRUE(w.port.unhooked.empty());
  }
  // Either way the library lets go of the process as after a removal.
  EXPECT_EQ(w.Tick(stage), WatchdogStage::kRetired);
  EXPECT_EQ(w.port.unhooked.size(), c.removes ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, WatchdogOwner, testing::ValuesIn(kOwnerCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(WatchdogTick, HostAndDialogAliveWithTheHookInPlaceKeepWatching) {
  Watchdog w;
  w.port.live = {77};
  WatchdogStage stage = WatchdogStage::kWatching;
  for (int i = 0; i < 3; ++i) stage = w.Tick(stage);
  EXPECT_EQ(stage, WatchdogStage::kWatching);
  EXPECT_TRUE(w.port.calls.empty());
  EXPECT_EQ(w.settings.asked.size(), 3u);
  EXPECT_EQ(w.target, w.armedFor);
}

// The host alive (it was restarted, or its dialog went alone): what the tick finds when it walks
// again decides whether it follows or retires; the only hook it removes is the one it followed
// away from.
struct DialogGoneCase {
  const char* name;
  // Changes the desktop; returns the target to follow, or nothing when the watchdog retires.
  std::optional<WatchdogTarget> (*change)(Watchdog&);
};

const DialogGoneCase kDialogGoneCases[] = {
    {"RestartedHostIsFollowed",
     [](Watchdog& w) -> std::optional<WatchdogTarget> { return w.Restart("Quillon", kNewHook); }},
    {"RebuiltDialogWithTheSameHookIsFollowed",
     [](Watchdog& w) -> std::optional<WatchdogTarget> { return w.Restart("Quillon", kHook); }},
    {"OnlyTheDialogWentAndNoneCameBack",
     [](Watchdog& w) -> std::optional<WatchdogTarget> {
       w.desktop.Destroy(w.target.hostDialog);
       return std::nullopt;
     }},
    {"NothingAtAll",
     [](Watchdog& w) -> std::optional<WatchdogTarget> {
       w.desktop.Destroy(w.firstTray());
       return std::nullopt;
     }},
    {"NewDialogWithoutTheProperty",
     [](Watchdog& w) -> std::optional<WatchdogTarget> {
       w.Restart("Quillon", 0);
       return std::nullopt;
     }},
    {"NewDialogIsTheAlternativeOne",
     [](Watchdog& w) -> std::optional<WatchdogTarget> {
       w.Restart("Wendril", kNewHook);
       return std::nullopt;
     }},
    {"NewDialogBehindAHiddenTray",
     [](Watchdog& w) -> std::optional<WatchdogTarget> {
       w.desktop.Destroy(w.firstTray());
       test::AddDialog(w.desktop, test::AddChain(w.desktop, false).taskSwitch, "Quillon", 0xB0FF);
       const test::Chain chain = test::AddChain(w.desktop);
       return WatchdogTarget{kNewHook,
                             test::AddDialog(w.desktop, chain.taskSwitch, "Quillon", kNewHook)};
     }},
};

class WatchdogDialogGone : public testing::TestWithParam<DialogGoneCase> {};

TEST_P(WatchdogDialogGone, FollowsARestartedHostOrRetiresWithoutTouchingItsHook) {
  Watchdog w;
  w.port.live = {77};
  const std::optional<WatchdogTarget> followed = GetParam().change(w);

  WatchdogStage stage = w.Tick(WatchdogStage::kWatching);
  if (followed) {
    EXPECT_EQ(stage, WatchdogStage::kWatching);
    EXPECT_EQ(w.target, *followed);
    // The hook it followed away from is asked to go, once, unless the new dialog names it too.
    std::vector<std::uintptr_t> unhooked;
    if (followed->hook != kHook) unhooked.push_back(kHook);
    EXPECT_EQ(w.port.unhooked, unhooked);
    stage = w.Tick(stage);
    EXPECT_EQ(stage, WatchdogStage::kWatching);
    EXPECT_EQ(w.port.unhooked, unhooked);
    // From now on it is the new host's hook that goes when the host does.
    w.port.live.clear();
    EXPECT_EQ(w.TickAndConfirm(stage), WatchdogStage::kRetiring);
    unhooked.push_back(followed->hook);
    EXPECT_EQ(w.port.unhooked, unhooked);
  } else {
    EXPECT_EQ(stage, WatchdogStage::kRetiring);
    EXPECT_EQ(w.Tick(stage), WatchdogStage::kRetired);
    EXPECT_EQ(w.port.calls, (std::vector<std::string>{"stop timer", "release module"}));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, WatchdogDialogGone, testing::ValuesIn(kDialogGoneCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(WatchdogTick, ARestartedHostIsNotLookedForWhileTheLivenessValueFails) {
  Watchdog w;
  w.Restart("Quillon", kNewHook);
  EXPECT_EQ(w.TickAndConfirm(WatchdogStage::kWatching), WatchdogStage::kRetiring);
  EXPECT_EQ(w.port.unhooked, std::vector<std::uintptr_t>{kHook});
  EXPECT_EQ(w.target, w.armedFor);
}

// The host goes on running; the dialog's property tells whether the hook is still its own.
struct PropertyCase {
  const char* name;
  HookRef stored;
  bool keepsWatching;
};

const PropertyCase kPropertyCases[] = {
    {"StillTheHook", kHook, true},
    {"Removed", 0, false},
    {"AnotherHook", kNewHook, false},
};

class WatchdogHookProperty : public testing::TestWithParam<PropertyCase> {};

TEST_P(WatchdogHookProperty, AHookTheHostTookAwayLetsTheLibraryGoWithoutAnUnhook) {
  const PropertyCase& c = GetParam();
  Watchdog w;
  w.port.live = {77};
  w.desktop.SetProperty(w.target.hostDialog, "WDIcon_hook", c.stored);

  WatchdogStage stage = w.Tick(WatchdogStage::kWatching);
  if (c.keepsWatching) {
    EXPECT_EQ(stage, WatchdogStage::kWatching);
    EXPECT_TRUE(w.port.calls.empty());
    return;
  }
  EXPECT_EQ(stage, WatchdogStage::kRetiring);
  EXPECT_EQ(w.Tick(stage), WatchdogStage::kRetired);
  EXPECT_EQ(w.port.calls, (std::vector<std::string>{"stop timer", "release module"}));
}

INSTANTIATE_TEST_SUITE_P(Cases, WatchdogHookProperty, testing::ValuesIn(kPropertyCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(WatchdogTick, ARetiredWatchdogStaysRetiredWhateverComesBack) {
  Watchdog w;
  w.port.live = {77};
  w.Restart("Quillon", kNewHook);
  EXPECT_EQ(w.Tick(WatchdogStage::kRetired), WatchdogStage::kRetired);
  EXPECT_TRUE(w.port.calls.empty());
  EXPECT_TRUE(w.settings.asked.empty());
  EXPECT_EQ(w.target, w.armedFor);
}

TEST(WatchdogTick, RetiringWaitsWhileAHookCallIsStillRunning) {
  Watchdog w;
  w.settings.stored.reset();
  w.port.inFlight = true;
  WatchdogStage stage = w.Tick(WatchdogStage::kRetiring);
  stage = w.Tick(stage);
  EXPECT_EQ(stage, WatchdogStage::kRetiring);
  EXPECT_TRUE(w.port.calls.empty());

  w.port.inFlight = false;
  stage = w.Tick(stage);
  EXPECT_EQ(stage, WatchdogStage::kRetired);
  EXPECT_EQ(w.port.calls, (std::vector<std::string>{"stop timer", "release module"}));
  EXPECT_TRUE(w.settings.asked.empty());
}

}  // namespace
}  // namespace quillon
