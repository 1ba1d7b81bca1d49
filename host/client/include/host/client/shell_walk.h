// The walk down the shell's window chain to the host's dialog, by the rules Tallyhook follows when
// it is mapped into a program: behind a small port, so that Tallyhook's attach and watchdog, the
// client's diagnosis and the unit tests (a fake window tree) share one set of rules.
#ifndef QUILLON_HOST_CLIENT_SHELL_WALK_H
#define QUILLON_HOST_CLIENT_SHELL_WALK_H

#include <cstdint>

#include "host/contract.h"

namespace quillon {

// Handles as the portable code sees them; the Win32 adapter converts to and from HWND & co.
using HookRef = std::uintptr_t;
using TimerRef = std::uintptr_t;

// The window-system calls of the walk.
class WindowTreePort {
 public:
  virtual ~WindowTreePort() = default;
  // The next top-level window of the class after `after` (0: the first one), any title; 0 when
  // there is none.
  virtual WindowId FindTopLevel(const char* windowClass, WindowId after) = 0;
  // The first direct child of `parent` of the class with the title (null: any title), or 0.
  virtual WindowId FindChild(WindowId parent, const char* windowClass, const char* title) = 0;
  virtual bool IsVisible(WindowId window) = 0;
  virtual HookRef GetProperty(WindowId window, const char* name) = 0;
};

enum class AttachOutcome {
  kNothingFound,       // no visible tray, rebar, task-switch window or dialog
  kAltDialog,          // the "Wendril" dialog: notices only, never a watchdog
  kDialogWithoutHook,  // the "Quillon" dialog without the hook property: notices only
  kArmed,              // the "Quillon" dialog with the hook property: notices and watchdog
};

// What the walk found; every field stays 0 from the step where the walk stopped on. `timer` is
// the attach routine's, set only when it armed the watchdog.
struct Discovery {
  WindowId tray = 0;
  WindowId rebar = 0;
  WindowId taskSwitch = 0;
  WindowId hostDialog = 0;
  HookRef hook = 0;
  TimerRef timer = 0;
  AttachOutcome outcome = AttachOutcome::kNothingFound;
};

// Walks Shell_TrayWnd > ReBarWindow32 > MSTaskSwWClass > dialog: the first visible tray, direct
// children only, "Wendril" before "Quillon". Touches nothing; an outcome of kArmed names the dialog
// and hook a watchdog would watch.
inline Discovery WalkToHost(WindowTreePort& port) {
  using namespace contract;
  Discovery found;

  // The first visible tray; hidden ones (such as a stand-by shell's) are skipped.
  found.tray = port.FindTopLevel(TrayClass<char>, 0);
  while (found.tray != 0 && !port.IsVisible(found.tray)) {
    found.tray = port.FindTopLevel(TrayClass<char>, found.tray);
  }
  if (found.tray == 0) return found;

  found.rebar = port.FindChild(found.tray, RebarClass<char>, nullptr);
  if (found.rebar == 0) return found;
  found.taskSwitch = port.FindChild(found.rebar, TaskSwitchClass<char>, nullptr);
  if (found.taskSwitch == 0) return found;

  found.hostDialog = port.FindChild(found.taskSwitch, DialogClass<char>, DialogTitleAlt<char>);
  if (found.hostDialog != 0) {
    found.hook = port.GetProperty(found.hostDialog, HookProperty<char>);
    found.outcome = AttachOutcome::kAltDialog;
    return found;
  }

  found.hostDialog = port.FindChild(found.taskSwitch, DialogClass<char>, DialogTitle<char>);
  if (found.hostDialog == 0) return found;
  found.hook = port.GetProperty(found.hostDialog, HookProperty<char>);
  found.outcome = found.hook == 0 ? AttachOutcome::kDialogWithoutHook : AttachOutcome::kArmed;
  return found;
}

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_SHELL_WALK_H
