#include "hooklib/attach.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "settings/settings.h"
#include "settings/text.h"
#include "tests/hooklib/fake_desktop.h"

namespace quillon {
namespace {

using test::AddChain;
using test::AddDialog;
using test::Chain;
using test::FakeDesktop;

// Records what the attach routine does to the settings store.
struct RecordingSettings {
  void SetBaseKey(const CTextA& text) { baseKey = text.GetText(); }
  void SetFileName(const CTextA& text) { fileName = text.GetText(); }
  std::optional<std::string> baseKey, fileName;
};

constexpr HookRef kHook = 0xB00C;

struct AttachCase {
  const char* name;
  // Builds the tree and returns what the walk must find (the timer field is checked apart).
  std::function<Discovery(FakeDesktop&)> build;
};

Discovery Found(const Chain& chain, WindowId dialog, HookRef hook, AttachOutcome outcome) {
  return {chain.tray, chain.rebar, chain.taskSwitch, dialog, hook, 0, outcome};
}

const AttachCase kAttachCases[] = {
    {"NoTray",
     [](FakeDesktop& d) {
       d.Add("Progman");
       return Discovery{};
     }},
    {"OnlyHiddenTrays",
     [](FakeDesktop& d) {
       for (int i = 0; i < 2; ++i) {
         AddDialog(d, AddChain(d, false).taskSwitch, "Quillon", kHook);
       }
       return Discovery{};
     }},
    {"HiddenTrayBeforeVisible",
     [](FakeDesktop& d) {
       AddDialog(d, AddChain(d, false).taskSwitch, "Wendril", kHook);
       const Chain visible = AddChain(d);
       return Found(visible, AddDialog(d, visible.taskSwitch, "Quillon", kHook), kHook,
                    AttachOutcome::kArmed);
     }},
    {"TrayWithoutRebar",
     [](FakeDesktop& d) {
       Discovery expected;
       expected.tray = d.Add("Shell_TrayWnd");
       d.Add("MSTaskSwWClass", "", expected.tray);
       return expected;
     }},
    {"OnlyFirstRebarSearched",
     [](FakeDesktop& d) {
       Discovery expected;
       expected.tray = d.Add("Shell_TrayWnd");
       expected.rebar = d.Add("ReBarWindow32", "", expected.tray);
       const WindowId second = d.Add("ReBarWindow32", "", expected.tray);
       AddDialog(d, d.Add("MSTaskSwWClass", "", second), "Quillon", kHook);
       return expected;
     }},
    {"DialogOneLevelTooDeep",
     [](FakeDesktop& d) {
       const Chain chain = AddChain(d);
       AddDialog(d, d.Add("ToolbarWindow32", "", chain.taskSwitch), "Quillon", kHook);
       return Found(chain, 0, 0, AttachOutcome::kNothingFound);
     }},
    {"DialogOfAnotherClass",
     [](FakeDesktop& d) {
       const Chain chain = AddChain(d);
       d.SetProperty(d.Add("Static", "Quillon", chain.taskSwitch), "WDIcon_hook", kHook);
       return Found(chain, 0, 0, AttachOutcome::kNothingFound);
     }},
    {"OtherTitleOnly",
     [](FakeDesktop& d) {
       const Chain chain = AddChain(d);
       AddDialog(d, chain.taskSwitch, "Quillon ", kHook);
       return Found(chain, 0, 0, AttachOutcome::kNothingFound);
     }},
    {"AltDialogWithProperty",
     [](FakeDesktop& d) {
       const Chain chain = AddChain(d);
       return Found(chain, AddDialog(d, chain.taskSwitch, "Wendril", kHook), kHook,
                    AttachOutcome::kAltDialog);
     }},
    {"AltDialogWithoutProperty",
     [](FakeDesktop& d) {
       const Chain chain = AddChain(d);
       return Found(chain, AddDialog(d, chain.taskSwitch, "Wendril", 0), 0,
                    AttachOutcome::kAltDialog);
     }},
    {"BothTitlesAltWins",
     [](FakeDesktop& d) {
       const Chain chain = AddChain(d);
       AddDialog(d, chain.taskSwitch, "Quillon", kHook);
       return Found(chain, AddDialog(d, chain.taskSwitch, "Wendril", 0), 0,
                    AttachOutcome::kAltDialog);
     }},
    {"DialogWithoutProperty",
     [](FakeDesktop& d) {
       const Chain chain = AddChain(d);
       return Found(chain, AddDialog(d, chain.taskSwitch, "Quillon", 0), 0,
                    AttachOutcome::kDialogWithoutHook);
     }},
    {"DialogWithProperty",
     [](FakeDesktop& d) {
       const Chain chain = AddChain(d);
       return Found(chain, AddDialog(d, chain.taskSwitch, "Quillon", kHook), kHook,
                    AttachOutcome::kArmed);
     }},
};

class AttachWalk : public testing::TestWithParam<AttachCase> {};

TEST_P(AttachWalk, FindsWhatTheTreeHoldsAndArmsOnlyTheHostDialogWithItsHook) {
  FakeDesktop desktop;
  Discovery expected = GetParam().build(desktop);
  RecordingSettings settings;

  const Discovery found = DiscoverHost<RecordingSettings, CTextA>(desktop, settings);

  const bool armed = expected.outcome == AttachOutcome::kArmed;
  if (armed) expected.timer = desktop.timerId;
  EXPECT_EQ(found.tray, expected.tray);
  EXPECT_EQ(found.rebar, expected.rebar);
  EXPECT_EQ(found.taskSwitch, expected.taskSwitch);
  EXPECT_EQ(found.hostDialog, expected.hostDialog);
  EXPECT_EQ(found.hook, expected.hook);
  EXPECT_EQ(found.timer, expected.timer);
  EXPECT_EQ(found.outcome, expected.outcome);

  if (armed) {
    EXPECT_EQ(desktop.timerPeriods, std::vector<unsigned>{10000});
    EXPECT_EQ(settings.baseKey, "");
    EXPECT_EQ(settings.fileName, "QuillonFree.cfg");
  } else {
    EXPECT_TRUE(desktop.timerPeriods.empty());
    EXPECT_FALSE(settings.baseKey.has_value());
    EXPECT_FALSE(settings.fileName.has_value());
  }
  for (const auto& [window, checks] : desktop.visibilityChecks) {
    EXPECT_EQ(checks, 1) << "tray " << window << " visited more than once";
  }
}

INSTANTIATE_TEST_SUITE_P(Trees, AttachWalk, testing::ValuesIn(kAttachCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(AttachWalk, ArmedEvenWhenTheSystemGivesNoTimer) {
  FakeDesktop desktop;
  AddDialog(desktop, AddChain(desktop).taskSwitch, "Quillon", kHook);
  desktop.timerId = 0;
  RecordingSettings settings;

  const Discovery found = DiscoverHost<RecordingSettings, CTextA>(desktop, settings);

  EXPECT_EQ(found.hook, kHook);
  EXPECT_EQ(found.timer, 0u);
  EXPECT_EQ(desktop.timerPeriods.size(), 1u);
}

// The real store, once the walk has armed it, reads the liveness value from QuillonFree.cfg
// in Orvane\Quillon with the section exactly as given.
class ProfilePort final : public SettingsPort<char> {
 public:
  bool GetAppDataFolder(char* buffer) override {
    std::snprintf(buffer, kSettingsPathChars, "%s", "C:\\Users\\u\\AppData\\Roaming");
    return true;
  }
  bool PathExists(const char*) override { return true; }
  void CreateFolder(const char*) override {}
  std::size_t ReadProfileString(const char* section, const char* key, char* buffer,
                                std::size_t size, const char* file) override {
    reads.push_back(std::string(section) + "|" + key + "|" + file);
    return static_cast<std::size_t>(std::snprintf(buffer, size, "%s", "42"));
  }
  bool OpenKey(const char*, RegistryKey&) override {
    ADD_FAILURE() << "the hook library never reads the registry";
    return false;
  }
  bool QueryValue(RegistryKey, const char*, void*, std::uint32_t&) override { return false; }
  void CloseKey(RegistryKey) override {}

  std::vector<std::string> reads;
};

TEST(AttachWalk, ArmedStoreReadsTheHookSettingsFile) {
  ProfilePort port;
  CSettingsA settings(false, CTextA("Orvane"), CTextA("Quillon"), port);
  FakeDesktop desktop;
  AddDialog(desktop, AddChain(desktop).taskSwitch, "Quillon", kHook);
  DiscoverHost<CSettingsA, CTextA>(desktop, settings);

  CTextA value;
  ASSERT_TRUE(settings.ReadValue(CTextA("Options\\Windows\\Main"), CTextA("Handle"), value));
  EXPECT_STREQ(value.GetText(), "42");
  EXPECT_EQ(port.reads, std::vector<std::string>{
                            "Options\\Windows\\Main|Handle|"
                            "C:\\Users\\u\\AppData\\Roaming\\Orvane\\Quillon\\QuillonFree.cfg"});
}

}  // namespace
}  // namespace quillon
