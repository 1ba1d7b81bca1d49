// The clean-run line of the Wine test programs registered with VERDICT (cmake/Windows.cmake):
// CTest passes them only on this line, never on their exit code alone, because a process that
// dies under qemu-user (a jump into unmapped memory can end it with no exception at all) may
// still exit with 0.
#pragma once

#include <initializer_list>

namespace quillon::test {

inline constexpr char kCleanRunLine[] = "PASSED: 0 failure(s)";

// Runs every selected test (after ::testing::InitGoogleTest) and prints kCleanRunLine as the
// very last line only when at least one test ran and none failed: a run that ends early never
// prints it. Returns RUN_ALL_TESTS's result.
int RunAllTestsWithCleanRunLine();

// For programs with arguments of their own: takes gtest's flags out of the command line, expects
// exactly one further argument per pointer of `arguments` and points each at its own, then runs
// as above. Without them it prints `usage` and returns 2 (--gtest_list_tests needs none).
int RunAllTestsWithCleanRunLine(int argc, char** argv, const char* usage,
                                std::initializer_list<const char**> arguments);

}  // namespace quillon::test
