// The host's log lines as host/standin writes them, read back by the soak.
#include "tests/soak/host_log.h"

#include <gtest/gtest.h>

namespace quillon::soak {
namespace {

struct LineCase {
  const char* line;
  HostLineKind kind;
  std::uint32_t window;
  std::uint32_t process;
  const char* answer;
  bool resolved;
  std::uint64_t private_bytes = 0;
};

class HostLogLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(HostLogLines, ReadsKindWindowProcessAndAnswer) {
  const LineCase& c = GetParam();
  const HostLine line = ParseHostLine(c.line);
  EXPECT_EQ(line.kind, c.kind) << c.line;
  EXPECT_EQ(line.window, c.window) << c.line;
  EXPECT_EQ(line.process, c.process) << c.line;
  EXPECT_EQ(line.answer, c.answer) << c.line;
  EXPECT_EQ(line.resolved, c.resolved) << c.line;
  EXPECT_EQ(line.private_bytes, c.private_bytes) << c.line;
}

INSTANTIATE_TEST_SUITE_P(
    StandinLines, HostLogLines,
    ::testing::Values(
        LineCase{"02:37:06.844  host       main window 0x00010178, dialog \"Quillon\" 0x00010190",
                 HostLineKind::kMainWindow, 0x10178, 0, "", false},
        LineCase{"02:37:07.307  host       running until closed", HostLineKind::kRunning, 0, 0, "",
                 false},
        LineCase{"02:37:44.900  host       stopped: hook removed, \"Handle\" cleared",
                 HostLineKind::kStopped, 0, 0, "", false},
        LineCase{"02:37:07.257  assistant  started Z:\\dist\\Sidecar64.exe (process 352)",
                 HostLineKind::kSidecarStarted, 0, 352, "", false},
        LineCase{"02:37:27.702  assistant  Sidecar64 has ended (exit code 1); it will be started "
                 "again with the next request",
                 HostLineKind::kSidecarLost, 0, 0, "", false},
        LineCase{"02:37:07.305  path       window 0x0001019a  Z:\\dist\\Sidecar64.exe  [Sidecar64 "
                 "itself]",
                 HostLineKind::kSidecarWindow, 0x1019a, 0, "Z:\\dist\\Sidecar64.exe", true},
        LineCase{"02:37:07.498  notice     window 0x00010128  Z:\\dist\\QuillonIconFlipper.exe",
                 HostLineKind::kNotice, 0x10128, 0, "Z:\\dist\\QuillonIconFlipper.exe", true},
        LineCase{"02:37:07.498  notice     window 0x8001abcd  (not available: Sidecar64 is gone)",
                 HostLineKind::kNotice, 0x8001abcd, 0, "(not available: Sidecar64 is gone)", false},
        // A title may hold anything, quotes and the word "process" included.
        LineCase{"02:37:07.872  window     window 0x00020112  C:\\windows\\syswow64\\clock.exe  "
                 "\"a \"quoted\"  process 12\"  process 308",
                 HostLineKind::kWindow, 0x20112, 308, "C:\\windows\\syswow64\\clock.exe", true},
        LineCase{"02:37:17.307  usage      private 6520832 bytes", HostLineKind::kUsage, 0, 0, "",
                 false, 6520832},
        // Lines of other kinds, and broken ones, are nothing the soak acts on.
        LineCase{"02:37:17.307  usage      private 65x bytes", HostLineKind::kOther, 0, 0, "",
                 false},
        LineCase{"02:37:07.764  gone       window 0x00010156", HostLineKind::kOther, 0, 0, "",
                 false},
        LineCase{"02:37:07.498  notice     window 0x0001012  short", HostLineKind::kOther, 0, 0, "",
                 false},
        LineCase{"02:37:07.498  notice     window 0x0001012G  Z:\\x.exe", HostLineKind::kOther, 0,
                 0, "", false},
        LineCase{"short", HostLineKind::kOther, 0, 0, "", false}));

}  // namespace
}  // namespace quillon::soak
