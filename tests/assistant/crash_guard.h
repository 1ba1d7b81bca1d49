// Wine swallows exceptions raised in window procedures, hooks and timer callbacks, so a fault
// there would go unnoticed. This vectored handler sees every access violation first and makes the
// test program fail at its end.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

namespace quillon::testing {

inline std::atomic<int> g_accessViolations{0};

inline LONG CALLBACK CountAccessViolation(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) {
    ++g_accessViolations;
    std::fprintf(stderr, "access violation at %p\n", info->ExceptionRecord->ExceptionAddress);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

class CrashGuard : public ::testing::Environment {
 public:
  void SetUp() override { handler_ = AddVectoredExceptionHandler(1, &CountAccessViolation); }
  void TearDown() override {
    EXPECT_EQ(g_accessViolations.load(), 0) << "an access violation happened during the tests";
    if (handler_ != nullptr) RemoveVectoredExceptionHandler(handler_);
  }

 private:
  void* handler_ = nullptr;
};

// Registered before main runs; gtest owns and deletes the environment.
inline ::testing::Environment* const g_crashGuard =
    ::testing::AddGlobalTestEnvironment(new CrashGuard);

}  // namespace quillon::testing
