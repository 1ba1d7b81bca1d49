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
  bool HookCallsInFlight() override { return inFlight; }
  void StopTimer() override { calls.push_back("stop timer"); }
  void ReleaseModule() override { calls.push_back("release module"); }

  std::set<std::uintptr_t> live;
  bool inFlight = false;
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
    return WatchdogTick<FakeSettings, CTextA>(settings, port, desktop, target, current);
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

TEST_P(WatchdogTickCase, RemovesTheHookUnlessTheValueNamesALiveWindow) {
  const TickCase& c = GetParam();
  Watchdog w;
  w.settings.stored = c.stored;
  w.port.live = {123, 0xFFFFFFFFu};
  FakeSettings& settings = w.settings;
  FakeWatchdogPort& port = w.port;

  const WatchdogStage after = w.Tick(WatchdogStage::kWatching);

  EXPECT_EQ(settings.asked, std::vector<std::string>{"Options\\Windows\\Main|Handle"});
  if (c.checkedWindow) {
    ASSERT_FALSE(port.checked.empty());
    EXPECT_EQ(port.checked[0], *c.checkedWindow);
  } else {
    EXPECT_TRUE(port.checked.empty());
  }
  if (c.removes) {
    EXPECT_EQ(port.unhooked, std::vector<std::uintptr_t>{kHook});
    EXPECT_EQ(after, WatchdogStage::kRetiring);
  } else {
    EXPECT_TRUE(port.unhooked.empty());
    EXPECT_EQ(after, WatchdogStage::kWatching);
  }
}

INSTANTIATE_TEST_SUITE_P(Values, WatchdogTickCase, testing::ValuesIn(kTickCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(WatchdogTick, HostGoneAsksForTheRemovalOnceThenStopsAndLetsTheModuleGo) {
  Watchdog w;

  WatchdogStage stage = w.Tick(WatchdogStage::kWatching);
  EXPECT_EQ(stage, WatchdogStage::kRetiring);
  EXPECT_EQ(w.port.calls, std::vector<std::string>{"unhook"});

  // The host coming back changes nothing now: the removal has been asked for.
  w.port.live.insert(77);
  stage = w.Tick(stage);
  EXPECT_EQ(stage, WatchdogStage::kRetired);
  EXPECT_EQ(w.port.calls, (std::vector<std::string>{"unhook", "stop timer", "release module"}));
  EXPECT_EQ(w.settings.asked.size(), 1u) << "a retiring tick reads no settings";

  stage = w.Tick(stage);
  EXPECT_EQ(stage, WatchdogStage::kRetired);
  EXPECT_EQ(w.port.calls.size(), 3u);
  EXPECT_EQ(w.settings.asked.size(), 1u);
}

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
// again decides whether it follows or retires; it never removes a hook.
struct DialogGoneCase {
  const char* name;
  // Changes the desktop; returns the target to follow, or nothing when the watchdog retires.
  std::optional<WatchdogTarget> (*change)(Watchdog&);
};

const DialogGoneCase kDialogGoneCases[] = {
    {"RestartedHostIsFollowed",
     [](Watchdog& w) -> std::optional<WatchdogTarget> { return w.Restart("Quillon", kNewHook); }},
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

TEST_P(WatchdogDialogGone, FollowsARestartedHostOrRetiresWithoutTouchingTheHook) {
  Watchdog w;
  w.port.live = {77};
  const std::optional<WatchdogTarget> followed = GetParam().change(w);

  WatchdogStage stage = w.Tick(WatchdogStage::kWatching);
  if (followed) {
    EXPECT_EQ(stage, WatchdogStage::kWatching);
    EXPECT_EQ(w.target, *followed);
    stage = w.Tick(stage);
    EXPECT_EQ(stage, WatchdogStage::kWatching);
    EXPECT_TRUE(w.port.calls.empty());
    // From now on it is the new host's hook that goes when the host does.
    w.port.live.clear();
    EXPECT_EQ(w.Tick(stage), WatchdogStage::kRetiring);
    EXPECT_EQ(w.port.unhooked, std::vector<std::uintptr_t>{followed->hook});
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
  EXPECT_EQ(w.Tick(WatchdogStage::kWatching), WatchdogStage::kRetiring);
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
