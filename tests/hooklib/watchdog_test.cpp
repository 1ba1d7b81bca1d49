#include "hooklib/watchdog.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "settings/text.h"

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

class FakeWatchdogPort final : public WatchdogPort {
 public:
  bool IsWindow(std::uintptr_t window) override {
    checked.push_back(window);
    return live.count(window) != 0;
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
};

constexpr std::uintptr_t kHook = 0xB00C;
constexpr std::uintptr_t kDialog = 0xD1A;
constexpr WatchdogTarget kTarget{kHook, kDialog};

WatchdogStage Tick(FakeSettings& settings, FakeWatchdogPort& port, WatchdogStage stage) {
  return WatchdogTick<FakeSettings, CTextA>(settings, port, kTarget, stage);
}

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
  FakeSettings settings{c.stored, {}};
  FakeWatchdogPort port;
  port.live = {123, 0xFFFFFFFFu, kDialog};

  const WatchdogStage after = Tick(settings, port, WatchdogStage::kWatching);

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
  FakeSettings settings{"77", {}};
  FakeWatchdogPort port;
  port.live = {kDialog};

  WatchdogStage stage = Tick(settings, port, WatchdogStage::kWatching);
  EXPECT_EQ(stage, WatchdogStage::kRetiring);
  EXPECT_EQ(port.calls, std::vector<std::string>{"unhook"});

  // The host coming back changes nothing now: the removal has been asked for.
  port.live.insert(77);
  stage = Tick(settings, port, stage);
  EXPECT_EQ(stage, WatchdogStage::kRetired);
  EXPECT_EQ(port.calls, (std::vector<std::string>{"unhook", "stop timer", "release module"}));
  EXPECT_EQ(settings.asked.size(), 1u) << "a retiring tick reads no settings";

  stage = Tick(settings, port, stage);
  EXPECT_EQ(stage, WatchdogStage::kRetired);
  EXPECT_EQ(port.calls.size(), 3u);
  EXPECT_EQ(settings.asked.size(), 1u);
}

TEST(WatchdogTick, HostAliveButDialogGoneRetiresWithoutTouchingTheHook) {
  FakeSettings settings{"77", {}};
  FakeWatchdogPort port;
  port.live = {77};

  WatchdogStage stage = Tick(settings, port, WatchdogStage::kWatching);
  EXPECT_EQ(stage, WatchdogStage::kRetiring);
  EXPECT_EQ(port.checked, (std::vector<std::uintptr_t>{77, kDialog}));
  stage = Tick(settings, port, stage);
  EXPECT_EQ(stage, WatchdogStage::kRetired);
  EXPECT_EQ(port.calls, (std::vector<std::string>{"stop timer", "release module"}));
}

TEST(WatchdogTick, HostAndDialogAliveKeepWatching) {
  FakeSettings settings{"77", {}};
  FakeWatchdogPort port;
  port.live = {77, kDialog};
  WatchdogStage stage = WatchdogStage::kWatching;
  for (int i = 0; i < 3; ++i) stage = Tick(settings, port, stage);
  EXPECT_EQ(stage, WatchdogStage::kWatching);
  EXPECT_TRUE(port.calls.empty());
  EXPECT_EQ(settings.asked.size(), 3u);
}

TEST(WatchdogTick, RetiringWaitsWhileAHookCallIsStillRunning) {
  FakeSettings settings{std::nullopt, {}};
  FakeWatchdogPort port;
  port.inFlight = true;
  WatchdogStage stage = Tick(settings, port, WatchdogStage::kRetiring);
  stage = Tick(settings, port, stage);
  EXPECT_EQ(stage, WatchdogStage::kRetiring);
  EXPECT_TRUE(port.calls.empty());

  port.inFlight = false;
  stage = Tick(settings, port, stage);
  EXPECT_EQ(stage, WatchdogStage::kRetired);
  EXPECT_EQ(port.calls, (std::vector<std::string>{"stop timer", "release module"}));
  EXPECT_TRUE(settings.asked.empty());
}

}  // namespace
}  // namespace quillon
