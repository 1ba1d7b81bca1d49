// HostWatchdog: what Sidecar64 does at each expiry of its watchdog timer. A look that finds no
// live host is only a suspicion (a host that saves its settings file leaves it empty for a
// moment), so it is looked at again after the confirmation delay, and only a second failure in a
// row ends the program.
#pragma once

#include "host/contract.h"
#include "settings/liveness_confirmation.h"

namespace quillon {

// The platform operations of the watchdog.
class HostWatchdogPort {
 public:
  virtual ~HostWatchdogPort() = default;

  // Reads the liveness value anew; true when it names a live window.
  virtual bool HostLives() = 0;
  // Makes the watchdog timer expire after `periodMs`, and every `periodMs` from then on
  // (SetTimer on the same identifier replaces the running timer).
  virtual void ArmWatchdog(unsigned periodMs) = 0;
  // Ends the program's message loop (PostQuitMessage).
  virtual void Quit() = 0;
};

class HostWatchdog {
 public:
  // One expiry. The timer is set anew only when its period changes: nothing is added to the
  // 10-second rhythm while the host lives.
  void OnExpiry(HostWatchdogPort& port) {
    const bool wasConfirming = confirmation_.confirming();
    switch (confirmation_.Judge(port.HostLives())) {
      case LivenessVerdict::kAlive:
        if (wasConfirming) port.ArmWatchdog(contract::kWatchdogPeriodMs);
        break;
      case LivenessVerdict::kConfirm:
        port.ArmWatchdog(contract::kLivenessConfirmDelayMs);
        break;
      case LivenessVerdict::kGone:
        port.Quit();
        break;
    }
  }

 private:
  LivenessConfirmation confirmation_;
};

}  // namespace quillon
