// A stand-in for the shell's task bar, for tests and the stand-in host: a visible top-level
// "Shell_TrayWnd" > "ReBarWindow32" > "MSTaskSwWClass" chain, host dialogs ("#32770") below the
// task-switch window, and optionally a hidden "Shell_TrayWnd" ahead of the visible one in window
// order. All windows belong to the creating thread, which must pump messages (message_pump.h).
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "host/win32_handles.h"

namespace quillon::shell {

struct ShellChainOptions {
  // Title of a first host dialog; null for none (add dialogs later with AddDialog).
  const wchar_t* dialogTitle = nullptr;
  // Put a hidden "Shell_TrayWnd" ahead of the visible one, so that a search by class meets it
  // first.
  bool hiddenTrayFirst = false;
};

class ShellChain {
 public:
  // Null when a window could not be created.
  static std::unique_ptr<ShellChain> Create(const ShellChainOptions& options = {});

  HWND hiddenTray() const { return hiddenTray_.Get(); }
  HWND tray() const { return tray_.Get(); }
  HWND rebar() const { return rebar_.Get(); }
  HWND taskSwitch() const { return taskSwitch_.Get(); }
  // The dialogs in the order they were added; dialog() is the first.
  HWND dialog(std::size_t index = 0) const;

  // Adds a "#32770" dialog with the title as a direct child of `parent` (default: the task-switch
  // window). Null on failure. The chain owns it.
  HWND AddDialog(const wchar_t* title, HWND parent = nullptr);
  // Hides the visible tray so that another chain's tray can be found first.
  void HideTray();

 private:
  ShellChain() = default;

  UniqueWindow tray_, rebar_, taskSwitch_, hiddenTray_;
  std::vector<UniqueWindow> dialogs_;  // destroyed before their parents
};

}  // namespace quillon::shell
