// The soak's schedule keeps its promises for every length and seed: repeatable from its seed,
// both kinds of host end, enough restarts and Sidecar64 kills, and time for every restarted host.
#include "tests/soak/schedule.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quillon::soak {
namespace {

struct Shape {
  std::uint32_t minutes;
  std::uint64_t seed;
};

class ScheduleRules : public ::testing::TestWithParam<Shape> {};

TEST_P(ScheduleRules, KeepsEveryRule) {
  const ScheduleShape shape{GetParam().minutes * 60000u, 11};
  const std::vector<Event> schedule = MakeSchedule(GetParam().seed, shape);
  const std::uint32_t end = RunEndMs(schedule, shape.run_ms);
  EXPECT_GE(end, shape.run_ms);
  EXPECT_TRUE(std::is_sorted(schedule.begin(), schedule.end(),
                             [](const Event& a, const Event& b) { return a.at_ms < b.at_ms; }));
  unsigned clean = 0, kills = 0, sidecar_kills = 0, mid_request = 0;
  std::uint32_t host_due = 0;  // when the host runs again after the previous end
  for (const Event& event : schedule) {
    switch (event.action) {
      case Action::kHostEnd:
      case Action::kHostKill:
        (event.action == Action::kHostEnd ? clean : kills)++;
        EXPECT_GE(event.at_ms, host_due == 0 ? kFirstEndMs : host_due + kMinHostLifeMs);
        EXPECT_GE(event.gap_ms, kMinGapMs);
        host_due = event.at_ms + event.gap_ms;
        break;
      case Action::kSidecarKill:
        ++sidecar_kills;
        if (event.mid_request) ++mid_request;
        EXPECT_LT(event.at_ms, end);
        break;
      case Action::kToggle:
        EXPECT_LT(event.program, shape.programs);
        EXPECT_LT(event.at_ms, end);
        break;
    }
  }
  EXPECT_GE(end, host_due + kMinHostLifeMs) << "the last restarted host has no time";
  EXPECT_GE(clean, 1u);
  EXPECT_GE(kills, 1u);
  EXPECT_GE(clean + kills, std::max(2u, GetParam().minutes * 60 / 150));
  EXPECT_GE(sidecar_kills, std::max(2u, GetParam().minutes * 60 / 100));
  if (GetParam().minutes >= 30) {
    EXPECT_GT(mid_request, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(LengthsAndSeeds, ScheduleRules,
                         ::testing::Values(Shape{1, 1}, Shape{1, 2}, Shape{1, 987654321},
                                           Shape{2, 7}, Shape{5, 3}, Shape{30, 1}, Shape{30, 4242},
                                           Shape{120, 99}));

TEST(Schedule, TheSameSeedGivesTheSameScheduleAndAnotherSeedAnother) {
  const ScheduleShape shape{30 * 60000u, 11};
  auto text = [&](std::uint64_t seed) {
    std::string all;
    for (const Event& event : MakeSchedule(seed, shape)) all += Describe(event) + "\n";
    return all;
  };
  EXPECT_EQ(text(12345), text(12345));
  EXPECT_NE(text(12345), text(12346));
}

TEST(Schedule, DescribesEachAction) {
  EXPECT_EQ(Describe({15000, Action::kHostKill, 3000, false, 0}),
            "   15.0 s  host killed, back after 3.0 s");
  EXPECT_EQ(Describe({40100, Action::kSidecarKill, 0, true, 0}),
            "   40.1 s  Sidecar64 killed during a request");
  EXPECT_EQ(Describe({48100, Action::kToggle, 0, false, 3}),
            "   48.1 s  program 3 started or closed");
}

}  // namespace
}  // namespace quillon::soak
