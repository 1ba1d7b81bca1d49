// The soak's schedule: what is done to the running system, and when, drawn from one seed so that
// a failing run can be repeated exactly. Portable, so that its rules are tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::soak {

enum class Action {
  kHostEnd,      // the host ends cleanly (hook removed, "Handle" cleared, "Exit" to Sidecar64)
  kHostKill,     // the host is killed: nothing of its own clean-up runs
  kSidecarKill,  // the running Sidecar64 is killed behind the host's back
  kToggle,       // a program that runs is closed, one that does not is started
};

struct Event {
  std::uint32_t at_ms = 0;
  Action action = Action::kToggle;
  std::uint32_t gap_ms = 0;   // kHostEnd, kHostKill: until the host is started again
  bool mid_request = false;   // kSidecarKill: waits for a request in flight first
  std::uint32_t program = 0;  // kToggle: index among the programs that come and go
};

struct ScheduleShape {
  std::uint32_t run_ms = 60000;
  std::uint32_t programs = 1;  // how many programs kToggle chooses among
};

// Timing rules every schedule keeps.
inline constexpr std::uint32_t kFirstEndMs = 15000;     // the first host lives this long at least
inline constexpr std::uint32_t kMinHostLifeMs = 20000;  // each restarted host, at least
inline constexpr std::uint32_t kMinGapMs = 1000;

// At least two host restarts, one clean end and one kill among them, and at least two Sidecar64
// kills, whatever the length; more of each in longer runs. Sorted by time; the last host
// restart leaves every restarted host at least kMinHostLifeMs before run_ms (or, in a run too
// short for that, before the end it implies: RunEndMs).
std::vector<Event> MakeSchedule(std::uint64_t seed, const ScheduleShape& shape);

// When the final clean end comes: run_ms, or later when the last restarted host needs it.
std::uint32_t RunEndMs(const std::vector<Event>& schedule, std::uint32_t run_ms);

std::string Describe(const Event& event);

}  // namespace quillon::soak
