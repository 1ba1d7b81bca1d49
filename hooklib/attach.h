// Discovery of the host's dialog: the decisions of the walk down the shell's window chain, behind
// a small port so that they run against a fake window tree in the unit tests. The attach routine
// walks once; the hook procedure and the watchdog walk again, by the same rules, once the dialog
// they use is gone (the host was restarted).
#pragma once

#include "host/client/shell_walk.h"

namespace quillon {

// The attach routine's calls: the walk's, and the start of the watchdog.
class AttachPort : public WindowTreePort {
 public:
  // Starts the watchdog as a thread timer (no window, requested id 1) and returns the id the
  // system chose, or 0.
  virtual TimerRef StartWatchdogTimer(unsigned periodMs) = 0;
};

// Points the store at the hook library's own settings file, with the section used as given.
template <class Settings, class Text>
void UseHookSettingsFile(Settings& settings) {
  settings.SetBaseKey(Text(""));
  settings.SetFileName(Text(contract::HookSettingsFile<char>));
}

// The attach routine's discovery: the walk, and only in the armed outcome the settings store
// pointed at the hook's file and the watchdog timer started.
template <class Settings, class Text>
Discovery DiscoverHost(AttachPort& port, Settings& settings) {
  Discovery found = WalkToHost(port);
  if (found.outcome != AttachOutcome::kArmed) return found;
  UseHookSettingsFile<Settings, Text>(settings);
  found.timer = port.StartWatchdogTimer(contract::kWatchdogPeriodMs);
  return found;
}

}  // namespace quillon
