// The host watchdog's decisions, one tick at a time: is the host's main window, as named by the
// liveness value in the settings file, still there? If not, ask for the removal of the host's
// hook, and then retire: stop the timer and give back the module reference that kept the library
// in the process while the timer could still call into it. A host that was restarted is followed
// (its new dialog and hook are watched instead); a host that took its hook away is let go.
#pragma once

#include <cstdint>

#include "hooklib/attach.h"
#include "host/contract.h"
#include "settings/handle_text.h"

namespace quillon {

// Where the watchdog of one process stands. Every change happens on the thread that armed it.
enum class WatchdogStage {
  kWatching,  // the timer runs and checks the host on every tick
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
//    * The host gone asks for the hook's removal, once, and starts retiring.
//    * The host alive but the dialog gone: the host was restarted, or the shell's task bar was
//      rebuilt. The tree is walked again, by the attach routine's rules; a "Quillon" dialog with
//      the hook property is watched from now on, with the hook it names. Found nothing of the
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
                           WatchdogTarget& target, WatchdogStage stage) {
  switch (stage) {
    case WatchdogStage::kWatching: {
      if (!HostIsAlive<Settings, Text>(settings, port)) {
        port.Unhook(target.hook);
        return WatchdogStage::kRetiring;
      }
      if (!port.IsWindow(target.hostDialog)) {
        const Discovery found = WalkToHost(tree);
        if (found.outcome != AttachOutcome::kArmed) return WatchdogStage::kRetiring;
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
