// One tick of the host watchdog: is the host's main window, as named by the liveness value in
// the settings file, still there? If not, ask for the removal of the host's hook.
#pragma once

#include <cstdint>

#include "host/contract.h"
#include "settings/handle_text.h"

namespace quillon {

// The window-system calls a tick makes.
class WatchdogPort {
 public:
  virtual ~WatchdogPort() = default;
  virtual bool IsWindow(std::uintptr_t window) = 0;
  virtual void Unhook(std::uintptr_t hook) = 0;
};

// The decimal liveness value as a window handle: 32 bits that wrap, widened by zero extension.
inline std::uintptr_t HostWindowFromText(const char* text) {
  return static_cast<std::uintptr_t>(ParseHandleWrapping(text != nullptr ? text : ""));
}

// A failed read, or a value that names no window, counts as the host being gone. The removal is
// asked for again on every tick while that lasts; its result is not looked at.
template <class Settings, class Text>
void WatchdogTick(Settings& settings, WatchdogPort& port, std::uintptr_t hook) {
  Text value;
  const Text key(contract::LivenessKey<char>);
  const Text section(contract::LivenessSection<char>);
  if (settings.ReadValue(section, key, value) &&
      port.IsWindow(HostWindowFromText(value.GetText()))) {
    return;
  }
  port.Unhook(hook);
}

}  // namespace quillon
