#include "tests/soak/schedule.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace quillon::soak {
namespace {

// One generator for the whole schedule: the same seed gives the same schedule on every build
// (std::mt19937_64 is exactly specified; the distributions below are done by hand because the
// standard ones differ between libraries).
class Draw {
 public:
  explicit Draw(std::uint64_t seed) : engine_(seed) {}
  // Uniform in [low, high].
  std::uint32_t Between(std::uint32_t low, std::uint32_t high) {
    if (high <= low) return low;
    return low + static_cast<std::uint32_t>(engine_() % (std::uint64_t{high} - low + 1));
  }
  bool OneIn(std::uint32_t n) { return Between(1, n) == 1; }

 private:
  std::mt19937_64 engine_;
};

constexpr std::uint32_t kHostRestartEveryMs = 150000;
constexpr std::uint32_t kSidecarKillEveryMs = 100000;
constexpr std::uint32_t kToggleMinMs = 8000;
constexpr std::uint32_t kToggleMaxMs = 30000;
constexpr std::uint32_t kQuietEndMs = 10000;  // nothing but the final end in the last seconds

bool IsHostEnd(const Event& event) {
  return event.action == Action::kHostEnd || event.action == Action::kHostKill;
}

void AddHostRestarts(Draw& draw, std::uint32_t run_ms, std::vector<Event>& events) {
  const std::uint32_t count = std::max<std::uint32_t>(2, run_ms / kHostRestartEveryMs);
  // Long gaps let Sidecar64 and the hook library notice that no host runs; short ones do not.
  const std::uint32_t max_gap = run_ms >= 300000 ? 12000 : 4000;
  // The first two differ, in a random order; the rest are drawn.
  const bool kill_first = draw.OneIn(2);
  std::uint32_t earliest = kFirstEndMs;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t left = count - i;
    const std::uint32_t needed = left * (kMinHostLifeMs + max_gap);
    const std::uint32_t room = run_ms > earliest + needed ? run_ms - earliest - needed : 0;
    Event event;
    event.at_ms = earliest + draw.Between(0, room / left);
    if (i < 2) {
      event.action = (i == 0) == kill_first ? Action::kHostKill : Action::kHostEnd;
    } else {
      event.action = draw.OneIn(2) ? Action::kHostKill : Action::kHostEnd;
    }
    event.gap_ms = draw.Between(kMinGapMs, max_gap);
    events.push_back(event);
    earliest = event.at_ms + event.gap_ms + kMinHostLifeMs;
  }
}

void AddSidecarKills(Draw& draw, std::uint32_t run_ms, std::vector<Event>& events) {
  const std::uint32_t count = std::max<std::uint32_t>(2, run_ms / kSidecarKillEveryMs);
  const std::uint32_t first = 10000;
  const std::uint32_t last = run_ms > first + kQuietEndMs ? run_ms - kQuietEndMs : first;
  const std::uint32_t slot = (last - first) / count;
  for (std::uint32_t i = 0; i < count; ++i) {
    Event event;
    event.action = Action::kSidecarKill;
    event.at_ms = first + i * slot + draw.Between(0, slot);
    // Most kills wait for a request in flight; some come at any moment.
    event.mid_request = !draw.OneIn(3);
    events.push_back(event);
  }
}

void AddToggles(Draw& draw, const ScheduleShape& shape, std::vector<Event>& events) {
  if (shape.programs == 0) return;
  for (std::uint32_t at = 20000 + draw.Between(0, kToggleMinMs); at + kQuietEndMs < shape.run_ms;
       at += draw.Between(kToggleMinMs, kToggleMaxMs)) {
    Event event;
    event.action = Action::kToggle;
    event.at_ms = at;
    event.program = draw.Between(0, shape.programs - 1);
    events.push_back(event);
  }
}

}  // namespace

std::vector<Event> MakeSchedule(std::uint64_t seed, const ScheduleShape& shape) {
  Draw draw(seed);
  std::vector<Event> events;
  AddHostRestarts(draw, shape.run_ms, events);
  AddSidecarKills(draw, shape.run_ms, events);
  AddToggles(draw, shape, events);
  std::stable_sort(events.begin(), events.end(),
                   [](const Event& a, const Event& b) { return a.at_ms < b.at_ms; });
  return events;
}

std::uint32_t RunEndMs(const std::vector<Event>& schedule, std::uint32_t run_ms) {
  std::uint32_t end = run_ms;
  for (const Event& event : schedule) {
    if (IsHostEnd(event)) end = std::max(end, event.at_ms + event.gap_ms + kMinHostLifeMs);
  }
  return end;
}

std::string Describe(const Event& event) {
  char text[96];
  const double at = event.at_ms / 1000.0;
  switch (event.action) {
    case Action::kHostEnd:
      std::snprintf(text, sizeof text, "%7.1f s  host ends cleanly, back after %.1f s", at,
                    event.gap_ms / 1000.0);
      break;
    case Action::kHostKill:
      std::snprintf(text, sizeof text, "%7.1f s  host killed, back after %.1f s", at,
                    event.gap_ms / 1000.0);
      break;
    case Action::kSidecarKill:
      std::snprintf(text, sizeof text, "%7.1f s  Sidecar64 killed%s", at,
                    event.mid_request ? " during a request" : "");
      break;
    case Action::kToggle:
      std::snprintf(text, sizeof text, "%7.1f s  program %u started or closed", at,
                    static_cast<unsigned>(event.program));
      break;
  }
  return text;
}

}  // namespace quillon::soak
