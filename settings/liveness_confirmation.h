// How a companion decides that the host has gone. One failed look at the liveness value is only a
// suspicion: a host that saves its settings file rewrites it whole, and a read between the
// truncation and the write finds no value. So a failed look is repeated about a second later,
// and only a second failure in a row counts as the host's end. Both companions judge by this.
#pragma once

#include "host/contract.h"

namespace quillon {

enum class LivenessVerdict {
  kAlive,    // the host is there: look again after the usual period
  kConfirm,  // a first failure: look again after contract::kLivenessConfirmDelayMs
  kGone,     // a second failure in a row: the host is gone
};

// Remembers whether the previous look failed, and turns each look into a verdict.
class LivenessConfirmation {
 public:
  LivenessVerdict Judge(bool alive) {
    if (alive) {
      confirming_ = false;
      return LivenessVerdict::kAlive;
    }
    if (!confirming_) {
      confirming_ = true;
      return LivenessVerdict::kConfirm;
    }
    confirming_ = false;
    return LivenessVerdict::kGone;
  }

  // Whether the next look is the confirmation of a failed one.
  bool confirming() const { return confirming_; }

 private:
  bool confirming_ = false;
};

}  // namespace quillon
