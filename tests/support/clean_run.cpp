#include "tests/support/clean_run.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace quillon::test {
namespace {

class CleanRunLine : public ::testing::EmptyTestEventListener {
  void OnTestProgramEnd(const ::testing::UnitTest& unit) override {
    if (unit.Passed() && unit.test_to_run_count() > 0 && unit.failed_test_count() == 0) {
      std::printf("%s\n", kCleanRunLine);
    }
    std::fflush(stdout);
  }
};

}  // namespace

int RunAllTestsWithCleanRunLine() {
  // Appended last, so that it speaks after gtest's own summary.
  ::testing::UnitTest::GetInstance()->listeners().Append(new CleanRunLine);
  return RUN_ALL_TESTS();
}

int RunAllTestsWithCleanRunLine(int argc, char** argv, const char* usage,
                                std::initializer_list<const char**> arguments) {
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();  // lists, runs nothing
  if (argc != static_cast<int>(arguments.size()) + 1) {
    std::fprintf(stderr, "usage: %s\n", usage);
    return 2;
  }
  int next = 1;
  for (const char** argument : arguments) *argument = argv[next++];
  return RunAllTestsWithCleanRunLine();
}

}  // namespace quillon::test
