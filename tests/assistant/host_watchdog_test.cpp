#include "assistant/host_watchdog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillon {
namespace {

// Records what the watchdog asks for, as one line per operation.
class FakeWatchdogPort : public HostWatchdogPort {
 public:
  bool hostLives = true;
  std::vector<std::string> calls;

  bool HostLives() override { return hostLives; }
  void ArmWatchdog(unsigned periodMs) override {
    calls.push_back("arm " + std::to_string(periodMs));
  }
  void Quit() override { calls.push_back("quit"); }
};

struct Case {
  const char* name;
  std::vector<bool> looks;  // whether the host lives at each expiry, in order
  std::vector<std::string> calls;
};

TEST(HostWatchdog, EndsOnlyOnAConfirmedFailureAndKeepsItsRhythmOtherwise) {
  const Case cases[] = {
      {"alive: the timer is left alone", {true, true, true}, {}},
      {"a failure is looked at again a second later", {false}, {"arm 1000"}},
      {"a confirmed failure ends the program", {true, false, false}, {"arm 1000", "quit"}},
      {"a save on the tick: back to ten seconds", {false, true, true}, {"arm 1000", "arm 10000"}},
      {"failures apart are each confirmed anew",
       {false, true, false, true},
       {"arm 1000", "arm 10000", "arm 1000", "arm 10000"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWatchdogPort port;
    HostWatchdog watchdog;
    for (const bool lives : c.looks) {
      port.hostLives = lives;
      watchdog.OnExpiry(port);
    }
    EXPECT_EQ(port.calls, c.calls);
  }
}

}  // namespace
}  // namespace quillon
