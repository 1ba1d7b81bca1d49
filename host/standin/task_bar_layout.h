// Where the task bar and its buttons go on the screen. Portable, tested natively.
#pragma once

#include <cstddef>
#include <vector>

namespace quillon::standin {

struct Box {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const Box&) const = default;
};

struct BarMetrics {
  int bar_height = 34;
  int padding = 3;  // between the bar's edge and the buttons, and between buttons
  int button_width = 200;
  int min_button_width = 64;  // narrower than this a button shows no useful label
  int icon_size = 16;
  int badge_width = 24;  // the count of icon changes, at the right end of a button
};

struct BarLayout {
  Box bar;
  std::vector<Box> buttons;  // one per shown button, left to right
};

// The bar lies across the bottom of the screen. Buttons keep their preferred width while they
// fit, share the width when they do not, and stop at the minimum width: buttons beyond what the
// bar holds at that width get no box (the list has fewer boxes than `count`).
BarLayout LayOutBar(int screen_width, int screen_height, std::size_t count,
                    const BarMetrics& metrics = {});

// The icon's square at the left of a button, centred from top to bottom; the badge at its
// right end; the label's box between the two (up to the button's end when it has no badge).
Box IconBox(const Box& button, const BarMetrics& metrics = {});
Box BadgeBox(const Box& button, const BarMetrics& metrics = {});
Box LabelBox(const Box& button, bool with_badge, const BarMetrics& metrics = {});

}  // namespace quillon::standin
