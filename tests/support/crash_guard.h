// A GoogleTest environment for the Wine test programs: it watches for access violations for the
// whole run (Wine swallows exceptions raised in window procedures, hooks and timer callbacks, so a
// fault there would go unnoticed) and makes the program fail at its end when one happened.
#pragma once

#include <gtest/gtest.h>

#include <optional>

#include "tests/support/access_violation_guard.h"

namespace quillon::test {

class CrashGuard : public ::testing::Environment {
 public:
  void SetUp() override { guard_.emplace(); }
  void TearDown() override {
    EXPECT_EQ(AccessViolationGuard::count(), 0) << "an access violation happened during the tests";
    guard_.reset();
  }

 private:
  std::optional<AccessViolationGuard> guard_;
};

// Registered before main runs; gtest owns and deletes the environment.
inline ::testing::Environment* const g_crashGuard =
    ::testing::AddGlobalTestEnvironment(new CrashGuard);

}  // namespace quillon::test
