#include "settings/liveness_confirmation.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillon {
namespace {

using V = LivenessVerdict;

struct Case {
  const char* name;
  std::vector<bool> looks;  // the outcome of each look at the liveness value, in order
  std::vector<V> verdicts;
};

TEST(LivenessConfirmation, OnlyTwoFailedLooksInARowAreTheHostsEnd) {
  const Case cases[] = {
      {"alive throughout", {true, true, true}, {V::kAlive, V::kAlive, V::kAlive}},
      {"one failure is confirmed first", {false, false}, {V::kConfirm, V::kGone}},
      {"a save on a tick: alive again", {true, false, true}, {V::kAlive, V::kConfirm, V::kAlive}},
      {"failures apart are each confirmed anew",
       {false, true, false, true},
       {V::kConfirm, V::kAlive, V::kConfirm, V::kAlive}},
      {"a confirmed end starts afresh",
       {false, false, false},
       {V::kConfirm, V::kGone, V::kConfirm}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LivenessConfirmation confirmation;
    for (std::size_t i = 0; i < c.looks.size(); ++i) {
      EXPECT_EQ(confirmation.Judge(c.looks[i]), c.verdicts[i]) << "look " << i;
      EXPECT_EQ(confirmation.confirming(), c.verdicts[i] == V::kConfirm) << "look " << i;
    }
  }
}

}  // namespace
}  // namespace quillon
