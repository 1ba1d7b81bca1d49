// The host watchdog's decisions, one tick at a time: is the host's main window, as named by the
// liveness value in the settings file, still there? If not, ask for the removal of the host's
// hook, and then retire: stop the timer and give back the module reference that kept the library
// in the process while the timer could still call into it.
#pragma once

#include <cstdint>

#include "host/contract.h"
#include "settings/handle_text.h"

namespace quillon {

// Where the watchdog of one process stands. Every change happens on the thread that armed it.
enum class WatchdogStage {
  kWatching,  // the timer runs and checks the host on every tick
  kRetiring,  // the host (or its dialog) is gone: one more tick lets hook calls drain
  kRetired,   // timer stopped, module reference handed back: nothing of the library runs again
};

// What the watchdog was armed for, as the attach routine found it.
struct WatchdogTarget {
  std::uintptr_t hook = 0;        // the host's hook, to remove when the host is gone
  std::uintptr_t hostDialog = 0;  // the dialog that the notices of this process go to
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

// One tick; returns the stage after it.
//  - Watching: the host gone asks for the hook's removal, once, and starts retiring. A host that
//    is alive but whose dialog has gone (it was restarted, or the shell's task bar was rebuilt)
//    leaves this process with nothing to do: the notices go nowhere and the hook is not this
//    library's to judge, so it retires without touching the hook.
//  - Retiring: one tick after the removal no call of the hook procedure can still be on its way
//    in; the timer stops and the reference goes back, unless a call is still running (one that
//    is stuck in the next hook, say), in which case the next tick tries again.
template <class Settings, class Text>
WatchdogStage WatchdogTick(Settings& settings, WatchdogPort& port, const WatchdogTarget& target,
                           WatchdogStage stage) {
  switch (stage) {
    case WatchdogStage::kWatching:
      if (!HostIsAlive<Settings, Text>(settings, port)) {
        port.Unhook(target.hook);
        return WatchdogStage::kRetiring;
      }
      return port.IsWindow(target.hostDialog) ? WatchdogStage::kWatching : WatchdogStage::kRetiring;
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
