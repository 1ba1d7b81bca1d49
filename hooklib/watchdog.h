// The host watchdog's decisions, one tick at a time: is the host's main window, as named by the
// liveness value in the settings file, still there? A look that finds no live host is repeated
// after the confirmation pause (a save of the file leaves it empty for a moment); only a second
// one in a row asks for the removal of the host's hook, and then the watchdog retires: stop the
// timer and give back the module reference that kept the library in the process while the timer
// could still call into it. A host that was restarted is followed (its new dialog and hook are
// watched instead); a host that took its hook away is let go.
#pragma once

#include <cstdint>

#include "hooklib/attach.h"
#include "host/contract.h"
#include "settings/handle_text.h"
#include "settings/liveness_confirmation.h"

namespace quillon {

// Where the watchdog of one process stands. Every change happens on the thread that armed it.
enum class WatchdogStage {
  kWatching,  // the timer runs and checks the host on every tick (or confirms a failed check)
  kRetiring,  // the host, its dialog or its hook is gone: one more tick lets hook calls drain
  kRetired,   // timer stopped, module reference handed back: nothing of the library runs again
};

// The host the watchdog watches: first as the attach routine found it, then as a tick found it
// again after a restart of the host.
struct WatchdogTarget {
  std::uintptr_t hook = 0;        // the host's hook, to remove when the host is gone
  std::uintptr_t hostDialog = 0;  // the dialog that carries the hook as its property
  bool operator==(const WatchdogTarget&) const = default;
};

// The calls a tick makes.
class WatchdogPort {
 public:
  virtual ~WatchdogPort() = default;
  virtual bool IsWindow(std::uintptr_t window) = 0;
  virtual void Unhook(std::uintptr_t hook) = 0;
  // Whether this process runs as the user of the process that owns `window`; false when that
  // cannot be told (a process of another user may not be opened, say).
  virtual bool RunsAsOwnerOf(std::uintptr_t window) = 0;
  // Sets the time to the next tick, and the period after it; called during a tick.
  virtual void SetTimerPeriod(unsigned periodMs) = 0;
  // Whether a call of the hook procedure is running on some thread right now.
  virtual bool HookCallsInFlight() = 0;
  // Stops the watchdog's timer; called on its own thread, during one of its ticks.
  virtual void StopTimer() = 0;
  // Hands the watchdog's module reference back, from code outside the module.
  virtual void ReleaseModule() = 0;
};

// The decimal liveness value as a window handle: 32 bits that wrap, widened by zero extension.
inline std::uintptr_t HostWindowFromText(const char* text) {
  return static_cast<std::uintptr_t>(ParseHandleWrapping(text != nullptr ? text : ""));
}

// A failed read, or a value that names no window, counts as the host being gone.
template <class Settings, class Text>
bool HostIsAlive(Settings& settings, WatchdogPort& port) {
  Text value;
  const Text key(contract::LivenessKey<char>);
  const Text section(contract::LivenessSection<char>);
  return settings.ReadValue(section, key, value) &&
         port.IsWindow(HostWindowFromText(value.GetText()));
}

// One tick; returns the stage after it, and changes `target` when it follows a restarted host.
//  - Watching:
//    * A look that finds no live host (a failed read, or a value that names no window) is only
//      a suspicion: the next tick comes after the confirmation pause instead of the period. A
//      confirmation that finds the host alive goes back to the period.
//    * The host gone in two looks in a row asks for the hook's removal, once, and starts
//      retiring, on the usual period again. A process of another user than the one that owns
//      the host's dialog reads its own user's settings file, which tells nothing about this
//      host: while that dialog is there, such a process (or one that cannot tell its owner)
//      retires without touching the hook.
//    * The host alive but the dialog gone: the host was restarted, or the shell's task bar was
//      rebuilt. The tree is walked again, by the attach routine's rules; a "Quillon" dialog with
//      the hook property is watched from now on, with the hook it names, and the hook watched
//      until then is asked to go when it is another one (a dead host's). Found nothing of the
//      kind, the process is left with nothing to do: the hook is not this library's to judge,
//      so it retires without touching the hook.
//    * The dialog's property no longer holds the hook: the host has removed its hook (and the
//      property with it) and goes on running; it retires without touching the hook, so that the
//      library can leave the process.
//  - Retiring: one tick after the removal no call of the hook procedure can still be on its way
//    in; the timer stops and the reference goes back, unless a call is still running (one that
//    is stuck in the next hook, say), in which case the next tick tries again.
//  - Retired stays retired: a restarted host's freshly attached processes have watchdogs of
//    their own.
template <class Settings, class Text>
WatchdogStage WatchdogTick(Settings& settings, WatchdogPort& port, WindowTreePort& tree,
                           WatchdogTarget& target, LivenessConfirmation& confirmation,
                           WatchdogStage stage) {
  switch (stage) {
    case WatchdogStage::kWatching: {
      const bool confirming = confirmation.confirming();
      const LivenessVerdict verdict =
          confirmation.Judge(HostIsAlive<Settings, Text>(settings, port));
      if (verdict == LivenessVerdict::kConfirm) {
        port.SetTimerPeriod(contract::kLivenessConfirmDelayMs);
        return WatchdogStage::kWatching;
      }
      if (confirming) port.SetTimerPeriod(contract::kWatchdogPeriodMs);
      if (verdict == LivenessVerdict::kGone) {
        const bool anotherUsers =
            port.IsWindow(target.hostDialog) && !port.RunsAsOwnerOf(target.hostDialog);
        if (!anotherUsers) port.Unhook(target.hook);
        return WatchdogStage::kRetiring;
      }
      if (!port.IsWindow(target.hostDialog)) {
        const Discovery found = WalkToHost(tree);
        if (found.outcome != AttachOutcome::kArmed) return WatchdogStage::kRetiring;
        // The hook of the host whose dialog has gone: normally removed already (by that host,
        // or by the system when its thread ended), then this call fails harmlessly. Left in
        // place (Wine keeps a killed thread's hook), it would run the hook procedure a second
        // time for every message, and post every notice twice to the new host.
        if (found.hook != target.hook) port.Unhook(target.hook);
        target = {found.hook, found.hostDialog};
        return WatchdogStage::kWatching;
      }
      const HookRef stored = tree.GetProperty(target.hostDialog, contract::HookProperty<char>);
      return stored == target.hook ? WatchdogStage::kWatching : WatchdogStage::kRetiring;
    }
    case WatchdogStage::kRetiring:
      if (port.HookCallsInFlight()) return WatchdogStage::kRetiring;
      port.StopTimer();
      port.ReleaseModule();
      return WatchdogStage::kRetired;
    case WatchdogStage::kRetired:
      break;
  }
  return WatchdogStage::kRetired;
}

}  // namespace quillon
