// The stand-in task bar's portable rules: which buttons there are and in which order, what each
// says, and where each goes on the screen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/standin/task_bar_layout.h"
#include "host/standin/task_buttons.h"

namespace quillon::standin {
namespace {

std::vector<WindowId> Order(const TaskButtonList& list) {
  std::vector<WindowId> order;
  for (const TaskButton& button : list.buttons()) order.push_back(button.window);
  return order;
}

TEST(TaskBarLabel, FileNameOfAResolvedPathElseUnknown) {
  struct Case {
    const wchar_t* path;
    bool resolved;
    const wchar_t* label;
  };
  const Case cases[] = {
      {L"C:\\windows\\system32\\notepad.exe", true, L"notepad.exe"},
      {L"Z:\\work\\dist\\QuillonIconFlipper.exe", true, L"QuillonIconFlipper.exe"},
      {L"\\\\?\\C:\\Program Files\\a b\\c d.exe", true, L"c d.exe"},
      {L"/unix/style/tool.exe", true, L"tool.exe"},
      {L"C:notepad.exe", true, L"notepad.exe"},  // drive-relative
      {L"plain.exe", true, L"plain.exe"},
      {L"C:\\folder\\", true, L"(unknown)"},  // names no file
      {L"", true, L"(unknown)"},
      {L"(not available: timed out)", false, L"(unknown)"},
      {L"C:\\windows\\notepad.exe", false, L"(unknown)"},  // not resolved: never trusted
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::wstring(c.path).size());
    EXPECT_EQ(ButtonLabel(c.path, c.resolved), c.label);
  }
}

TEST(TaskButtonList, WindowsComeAndGoWhileTheOthersKeepTheirPlaces) {
  TaskButtonList list;
  TaskButtonList::Changes first = list.Sync({10, 20, 30});
  EXPECT_EQ(first.added, (std::vector<WindowId>{10, 20, 30}));
  EXPECT_TRUE(first.removed.empty());

  // The system's window order changes all the time; the bar's must not.
  TaskButtonList::Changes same = list.Sync({30, 10, 20});
  EXPECT_FALSE(same.any());
  EXPECT_EQ(Order(list), (std::vector<WindowId>{10, 20, 30}));

  // 20 goes, 40 comes (listed twice by a careless caller): it goes at the end, once.
  TaskButtonList::Changes next = list.Sync({40, 30, 40, 10});
  EXPECT_EQ(next.added, (std::vector<WindowId>{40}));
  EXPECT_EQ(next.removed, (std::vector<WindowId>{20}));
  EXPECT_EQ(Order(list), (std::vector<WindowId>{10, 30, 40}));
  EXPECT_FALSE(list.IndexOf(20).has_value());
  EXPECT_EQ(list.IndexOf(40), 2u);

  TaskButtonList::Changes none = list.Sync({});
  EXPECT_EQ(none.removed, (std::vector<WindowId>{10, 30, 40}));
  EXPECT_TRUE(list.buttons().empty());
}

TEST(TaskButtonList, AKnownProgramNameSurvivesAnUnansweredRequest) {
  TaskButtonList list;
  list.Sync({7, 8});
  EXPECT_EQ(list.buttons()[0].label, L"(unknown)");  // until Sidecar64 has answered

  EXPECT_TRUE(list.SetProgram(7, L"C:\\a\\one.exe", true));
  EXPECT_FALSE(list.SetProgram(7, L"C:\\a\\one.exe", true));  // no change: no repaint
  // Sidecar64 lost for a moment: the button keeps its name.
  EXPECT_FALSE(list.SetProgram(7, L"(not available: no Sidecar64)", false));
  EXPECT_EQ(list.buttons()[0].label, L"one.exe");
  // A new answer that resolves wins.
  EXPECT_TRUE(list.SetProgram(7, L"C:\\b\\two.exe", true));
  EXPECT_EQ(list.buttons()[0].label, L"two.exe");

  EXPECT_FALSE(list.SetProgram(8, L"(not available)", false));  // stays "(unknown)"
  EXPECT_EQ(list.buttons()[1].label, L"(unknown)");
  EXPECT_FALSE(list.SetProgram(99, L"C:\\x.exe", true));  // no such button

  EXPECT_TRUE(list.CountIconChange(7));
  EXPECT_TRUE(list.CountIconChange(7));
  EXPECT_FALSE(list.CountIconChange(99));
  EXPECT_EQ(list.buttons()[0].icon_changes, 2u);
  EXPECT_EQ(list.buttons()[1].icon_changes, 0u);

  // A window that goes and comes back (a reused handle) starts over: unknown, no changes.
  list.Sync({8});
  list.Sync({8, 7});
  EXPECT_EQ(list.buttons()[1].label, L"(unknown)");
  EXPECT_EQ(list.buttons()[1].icon_changes, 0u);
}

TEST(TaskBarLayout, ButtonsShrinkToFitAndStopAtTheMinimum) {
  BarMetrics m;
  m.bar_height = 30;
  m.padding = 2;
  m.button_width = 100;
  m.min_button_width = 40;
  struct Case {
    int screen_width;
    std::size_t count;
    std::size_t shown;
    int width;  // of each shown button
  };
  const Case cases[] = {
      {1000, 0, 0, 0},    {1000, 3, 3, 100},  // room to spare: preferred width
      {1000, 9, 9, 100},                      // 2 + 9 * 102 = 920 still fits
      {1000, 10, 10, 97},                     // (1000 - 2) / 10 = 99 per step
      {1000, 24, 23, 41},                     // 998 / 42 = 23 at most; 998 / 23 = 43 per step
      {420, 30, 9, 44},                       // 418 / 42 = 9 at most, sharing 418 / 9 = 46 per step
      {40, 5, 0, 0},                          // not even one
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.screen_width) + " wide, " + std::to_string(c.count));
    const BarLayout layout = LayOutBar(c.screen_width, 768, c.count, m);
    EXPECT_EQ(layout.bar, (Box{0, 738, c.screen_width, 768}));
    ASSERT_EQ(layout.buttons.size(), c.shown);
    for (std::size_t i = 0; i < layout.buttons.size(); ++i) {
      const Box& b = layout.buttons[i];
      EXPECT_EQ(b.width(), c.width);
      EXPECT_EQ(b.top, 740);
      EXPECT_EQ(b.bottom, 766);
      EXPECT_GE(b.left, (i == 0 ? m.padding : layout.buttons[i - 1].right + m.padding));
      EXPECT_LE(b.right, c.screen_width - m.padding);  // inside the bar
    }
  }
}

TEST(TaskBarLayout, IconLabelAndBadgeSitSideBySideInsideTheirButton) {
  const BarMetrics m;
  const Box button{100, 993, 300, 1021};
  const Box icon = IconBox(button, m);
  const Box badge = BadgeBox(button, m);
  const Box label = LabelBox(button, false, m);
  const Box label_before_badge = LabelBox(button, true, m);
  EXPECT_EQ(icon.width(), m.icon_size);
  EXPECT_EQ(icon.height(), m.icon_size);
  EXPECT_EQ(icon.top - button.top, button.bottom - icon.bottom);  // centred
  EXPECT_GT(icon.left, button.left);
  EXPECT_GT(label.left, icon.right);
  EXPECT_LT(label.right, button.right);
  EXPECT_EQ(badge.width(), m.badge_width);
  EXPECT_LT(badge.right, button.right);
  EXPECT_EQ(label_before_badge.left, label.left);
  EXPECT_LT(label_before_badge.right, badge.left);  // the count never covers the label
  EXPECT_GT(label_before_badge.width(), 100);       // a file name still fits
}

}  // namespace
}  // namespace quillon::standin
