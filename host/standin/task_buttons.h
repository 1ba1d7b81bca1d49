// The task bar's buttons as a list: which windows have one, in which order, and what each says.
// Portable: windows are plain numbers here, so that the rules are tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon::standin {

using WindowId = std::uintptr_t;

struct TaskButton {
  WindowId window = 0;
  std::wstring label;         // the file name of the window's program, or "(unknown)"
  unsigned icon_changes = 0;  // notices seen since the button came
};

// The label for an answer about a window's program: the file name of a resolved path, else
// "(unknown)" (also for a resolved path that names no file).
std::wstring ButtonLabel(const std::wstring& path, bool resolved);

class TaskButtonList {
 public:
  struct Changes {
    std::vector<WindowId> added;    // in the order they were appended
    std::vector<WindowId> removed;  // in their former order
    bool any() const { return !added.empty() || !removed.empty(); }
  };

  // Makes the list show exactly the windows in `present`: new ones are appended in the given
  // order, labelled "(unknown)" until SetProgram; gone ones are dropped; the others keep their
  // places, so that buttons do not jump around when another window comes or goes.
  Changes Sync(const std::vector<WindowId>& present);

  // Records an answer about the window's program. An unresolved answer does not replace a name
  // already known: a Sidecar64 that is briefly gone must not blank the bar. True when the label
  // changed.
  bool SetProgram(WindowId window, const std::wstring& path, bool resolved);

  // Counts an icon-change notice for the window's button; false when it has none.
  bool CountIconChange(WindowId window);

  std::optional<std::size_t> IndexOf(WindowId window) const;
  const std::vector<TaskButton>& buttons() const { return buttons_; }

 private:
  std::vector<TaskButton> buttons_;
};

}  // namespace quillon::standin
