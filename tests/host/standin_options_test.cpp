// The stand-in host's command line: every option, and each way a command line can be wrong.
#include "host/standin/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillon::standin {
namespace {

TEST(StandinOptions, DefaultsAndEveryOption) {
  const Options none = ParseOptions({});
  EXPECT_TRUE(none.error.empty());
  EXPECT_EQ(none.seconds, 0u);
  EXPECT_EQ(none.scan_ms, 2000u);
  EXPECT_EQ(none.timeout_ms, 5000u);
  EXPECT_TRUE(none.hook_library.empty());

  const Options all =
      ParseOptions({L"--seconds", L"90", L"--scan-ms", L"0", L"--timeout-ms", L"250", L"--hook",
                    L"C:\\h.dll", L"--assistant", L"C:\\a b\\s.exe", L"--stop-file",
                    L"Z:\\tmp\\stop", L"--diagnose-after-ms", L"3000"});
  EXPECT_TRUE(all.error.empty()) << std::string(all.error.begin(), all.error.end());
  EXPECT_EQ(all.seconds, 90u);
  EXPECT_EQ(all.scan_ms, 0u);
  EXPECT_EQ(all.timeout_ms, 250u);
  EXPECT_EQ(all.hook_library, L"C:\\h.dll");
  EXPECT_EQ(all.assistant, L"C:\\a b\\s.exe");
  EXPECT_EQ(all.stop_file, L"Z:\\tmp\\stop");
  EXPECT_EQ(none.diagnose_after_ms, 0u);
  EXPECT_EQ(all.diagnose_after_ms, 3000u);
}

TEST(StandinOptions, RejectsWrongCommandLines) {
  const std::vector<std::vector<std::wstring>> wrong = {
      {L"--seconds"},                  // value missing
      {L"--seconds", L"-5"},           // not a number
      {L"--seconds", L"12x"},          // trailing garbage
      {L"--seconds", L""},             // empty
      {L"--seconds", L"99999999999"},  // would overflow
      {L"--timeout-ms", L"0"},         // a zero time limit
      {L"--colour", L"blue"},          // unknown option
      {L"stray"},                      // not an option
  };
  for (const auto& args : wrong) {
    SCOPED_TRACE(std::string(args[0].begin(), args[0].end()));
    EXPECT_FALSE(ParseOptions(args).error.empty());
  }
}

}  // namespace
}  // namespace quillon::standin
