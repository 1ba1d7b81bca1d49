#include "host/standin/task_buttons.h"

#include <algorithm>

namespace quillon::standin {
namespace {

constexpr wchar_t kUnknown[] = L"(unknown)";

bool Contains(const std::vector<WindowId>& list, WindowId window) {
  return std::find(list.begin(), list.end(), window) != list.end();
}

}  // namespace

std::wstring ButtonLabel(const std::wstring& path, bool resolved) {
  if (!resolved) return kUnknown;
  const std::size_t separator = path.find_last_of(L"\\/:");
  std::wstring name = separator == std::wstring::npos ? path : path.substr(separator + 1);
  return name.empty() ? kUnknown : name;
}

TaskButtonList::Changes TaskButtonList::Sync(const std::vector<WindowId>& present) {
  Changes changes;
  const auto gone = [&](const TaskButton& button) {
    if (Contains(present, button.window)) return false;
    changes.removed.push_back(button.window);
    return true;
  };
  buttons_.erase(std::remove_if(buttons_.begin(), buttons_.end(), gone), buttons_.end());
  for (WindowId window : present) {
    if (IndexOf(window)) continue;  // listed already, or twice in `present`
    buttons_.push_back({window, kUnknown, 0});
    changes.added.push_back(window);
  }
  return changes;
}

bool TaskButtonList::SetProgram(WindowId window, const std::wstring& path, bool resolved) {
  const std::optional<std::size_t> index = IndexOf(window);
  if (!index) return false;
  TaskButton& button = buttons_[*index];
  if (!resolved && button.label != kUnknown) return false;
  std::wstring label = ButtonLabel(path, resolved);
  if (label == button.label) return false;
  button.label = std::move(label);
  return true;
}

bool TaskButtonList::CountIconChange(WindowId window) {
  const std::optional<std::size_t> index = IndexOf(window);
  if (index) ++buttons_[*index].icon_changes;
  return index.has_value();
}

std::optional<std::size_t> TaskButtonList::IndexOf(WindowId window) const {
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    if (buttons_[i].window == window) return i;
  }
  return std::nullopt;
}

}  // namespace quillon::standin
