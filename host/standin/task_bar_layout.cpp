#include "host/standin/task_bar_layout.h"

#include <algorithm>

namespace quillon::standin {

BarLayout LayOutBar(int screen_width, int screen_height, std::size_t count,
                    const BarMetrics& metrics) {
  BarLayout layout;
  layout.bar = {0, screen_height - metrics.bar_height, screen_width, screen_height};
  const int room = screen_width - metrics.padding;  // each button brings its own right gap
  const int step_wanted = metrics.button_width + metrics.padding;
  const int step_least = metrics.min_button_width + metrics.padding;
  if (count == 0 || room < step_least) return layout;

  const std::size_t fits_least = static_cast<std::size_t>(room / step_least);
  const std::size_t shown = std::min(count, fits_least);
  const int step = std::clamp(room / static_cast<int>(shown), step_least, step_wanted);
  const int top = layout.bar.top + metrics.padding;
  const int bottom = layout.bar.bottom - metrics.padding;
  for (std::size_t i = 0; i < shown; ++i) {
    const int left = metrics.padding + static_cast<int>(i) * step;
    layout.buttons.push_back({left, top, left + step - metrics.padding, bottom});
  }
  return layout;
}

Box IconBox(const Box& button, const BarMetrics& metrics) {
  const int left = button.left + metrics.padding + 2;
  const int top = button.top + (button.height() - metrics.icon_size) / 2;
  return {left, top, left + metrics.icon_size, top + metrics.icon_size};
}

Box BadgeBox(const Box& button, const BarMetrics& metrics) {
  const Box icon = IconBox(button, metrics);
  const int right = button.right - metrics.padding - 1;
  return {right - metrics.badge_width, icon.top, right, icon.bottom};
}

Box LabelBox(const Box& button, bool with_badge, const BarMetrics& metrics) {
  const Box icon = IconBox(button, metrics);
  const int right = with_badge ? BadgeBox(button, metrics).left : button.right;
  return {icon.right + metrics.padding + 2, button.top, right - metrics.padding, button.bottom};
}

}  // namespace quillon::standin
