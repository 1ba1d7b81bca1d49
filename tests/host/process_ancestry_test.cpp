// Whether a process's starter still runs, decided from what the system tells about the child and
// about the process that has the parent's id now; a freed id taken by a newer process does not
// count as the starter.
#include "host/client/process_ancestry.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

using Lookup = ProcessFacts::Lookup;

constexpr std::uint64_t kChildCreated = 1'000'000;

ProcessFacts Found(std::uint64_t created, bool running) {
  ProcessFacts facts;
  facts.lookup = Lookup::kFound;
  facts.created = created;
  facts.running = running;
  return facts;
}

ProcessFacts Missing(Lookup lookup) {
  ProcessFacts facts;
  facts.lookup = lookup;
  return facts;
}

TEST(JudgeStarter, TellsALiveStarterFromAGoneOrReusedOne) {
  struct Case {
    const char* name;
    ProcessFacts child;
    ProcessFacts parent;
    StarterState expected;
  };
  const ProcessFacts child = Found(kChildCreated, true);
  const Case cases[] = {
      {"starter runs, created before", child, Found(kChildCreated - 50, true),
       StarterState::kAlive},
      {"starter created in the same clock step", child, Found(kChildCreated, true),
       StarterState::kAlive},
      {"no process has the parent id", child, Missing(Lookup::kNoSuchProcess), StarterState::kGone},
      {"starter ended, kept known by a handle", child, Found(kChildCreated - 50, false),
       StarterState::kGone},
      {"the id was reused by a newer process", child, Found(kChildCreated + 1, true),
       StarterState::kGone},
      {"the parent may not be queried", child, Missing(Lookup::kNoAccess), StarterState::kUnknown},
      {"the child is gone", Missing(Lookup::kNoSuchProcess), Found(0, true),
       StarterState::kUnknown},
      {"the child may not be queried", Missing(Lookup::kNoAccess), Missing(Lookup::kNoSuchProcess),
       StarterState::kUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(JudgeStarter(c.child, c.parent), c.expected) << Describe(c.expected);
  }
}

}  // namespace
}  // namespace quillon
