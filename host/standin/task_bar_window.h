// The stand-in host's task bar: a custom-painted strip across the bottom of the screen with one
// button per window of the other programs, each with the window's small icon (else its program
// file's, else the system's application icon), the file name of its program and, once icon
// changes were noticed, their count. It logs where it and each button are, so that a script can
// check a screenshot.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "host/standin/task_bar_layout.h"
#include "host/standin/task_buttons.h"
#include "host/win32_handles.h"

namespace quillon::standin {

class TaskBarWindow {
 public:
  TaskBarWindow() = default;
  TaskBarWindow(const TaskBarWindow&) = delete;
  TaskBarWindow& operator=(const TaskBarWindow&) = delete;

  bool Create();
  void Destroy() { window_.Reset(); }
  HWND window() const { return window_.Get(); }

  // Shows a button for exactly these windows (new ones labelled "(unknown)" until SetProgram).
  TaskButtonList::Changes Sync(const std::vector<HWND>& windows);
  // Records what Sidecar64 answered about the window's program; true when its label changed.
  bool SetProgram(HWND window, const std::wstring& path, bool resolved);
  // What a notice calls for: counts the change, asks the window for its icon now and repaints
  // its button before returning; false when the window has no button.
  bool OnIconChanged(HWND window);
  // One "bar" line, then one "button" line per button.
  void LogLayout() const;

 private:
  struct Icons {
    HICON from_window = nullptr;  // not ours: the window's program owns it
    UniqueIcon from_program;      // loaded once the program's path is known
    HICON Best() const;
    const wchar_t* Source() const;
  };

  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void Paint(HDC dc) const;
  void RepaintButton(std::size_t index);
  RECT ClientBox(const Box& screen_box) const;

  UniqueWindow window_;
  TaskButtonList buttons_;
  std::map<WindowId, Icons> icons_;
  int screen_width_ = 0, screen_height_ = 0;
  BarLayout layout_;
};

}  // namespace quillon::standin
