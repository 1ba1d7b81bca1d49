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
  void Unhook(std::uintptr_t hook) override { unhooked.push_back(hook); }

  std::set<std::uintptr_t> live;
  std::vector<std::uintptr_t> checked;
  std::vector<std::uintptr_t> unhooked;
};

constexpr std::uintptr_t kHook = 0xB00C;

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
  port.live = {123, 0xFFFFFFFFu};

  WatchdogTick<FakeSettings, CTextA>(settings, port, kHook);

  EXPECT_EQ(settings.asked, std::vector<std::string>{"Options\\Windows\\Main|Handle"});
  if (c.checkedWindow) {
    EXPECT_EQ(port.checked, std::vector<std::uintptr_t>{*c.checkedWindow});
  } else {
    EXPECT_TRUE(port.checked.empty());
  }
  if (c.removes) {
    EXPECT_EQ(port.unhooked, std::vector<std::uintptr_t>{kHook});
  } else {
    EXPECT_TRUE(port.unhooked.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Values, WatchdogTickCase, testing::ValuesIn(kTickCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(WatchdogTick, AsksAgainOnEveryTickWhileTheHostStaysGoneAndStopsWhenItIsBack) {
  FakeSettings settings{"77", {}};
  FakeWatchdogPort port;
  WatchdogTick<FakeSettings, CTextA>(settings, port, kHook);
  WatchdogTick<FakeSettings, CTextA>(settings, port, kHook);
  EXPECT_EQ(port.unhooked, (std::vector<std::uintptr_t>{kHook, kHook}));

  port.live.insert(77);
  WatchdogTick<FakeSettings, CTextA>(settings, port, kHook);
  EXPECT_EQ(port.unhooked.size(), 2u);
}

}  // namespace
}  // namespace quillon
