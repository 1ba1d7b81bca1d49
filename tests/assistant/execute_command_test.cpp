#include "assistant/execute_command.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_command_port.h"

namespace quillon {
namespace {

using testing::FakeCommandPort;
using testing::Text;

constexpr WindowId kReply = 0x42;
constexpr WindowId kTarget = 0x1234;
constexpr std::uint32_t kTargetProcess = 7;
const Text kTargetPath = u"C:\\Apps\\Tool\\tool64.exe";  // 23 units

class ExecuteCommandTest : public ::testing::Test {
 protected:
  ExecuteCommandTest() {
    port.windowOwners[kTarget] = kTargetProcess;
    port.imagePaths[kTargetProcess] = kTargetPath;
  }

  void Run(Text request) { ExecuteCommand(request.data(), port); }

  void ExpectOneReply(WindowId receiver, WindowId target, const Text& path) {
    ASSERT_EQ(port.sent.size(), 1u);
    const auto& reply = port.sent[0];
    EXPECT_EQ(reply.receiver, receiver);
    EXPECT_EQ(reply.message, 0x004Au);
    EXPECT_EQ(reply.wParam, target);
    EXPECT_EQ(reply.dwData, target);
    EXPECT_EQ(reply.cbData, 2 * (path.size() + 1));
    EXPECT_EQ(reply.data, path + u'\0');
    EXPECT_EQ(port.openHandles, 0) << "every opened process is closed again";
  }

  FakeCommandPort port;
};

enum class Effect { kNothing, kQuit, kAnswer };

struct RequestCase {
  const char* name;
  const char16_t* request;
  Effect effect;
};

class RequestTableTest : public ExecuteCommandTest,
                         public ::testing::WithParamInterface<RequestCase> {};

TEST_P(RequestTableTest, HasTheExpectedEffect) {
  Run(GetParam().request);
  switch (GetParam().effect) {
    case Effect::kNothing:
      EXPECT_TRUE(port.quitCodes.empty());
      EXPECT_TRUE(port.sent.empty());
      break;
    case Effect::kQuit:
      EXPECT_EQ(port.quitCodes, std::vector<int>{0});
      EXPECT_TRUE(port.sent.empty());
      EXPECT_TRUE(port.openIds.empty());
      break;
    case Effect::kAnswer:
      EXPECT_TRUE(port.quitCodes.empty());
      ExpectOneReply(kReply, kTarget, kTargetPath);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RequestTableTest,
    ::testing::Values(
        RequestCase{"Exit", u"Exit", Effect::kQuit},
        RequestCase{"ExitLower", u"exit", Effect::kQuit},
        RequestCase{"ExitUpper", u"EXIT", Effect::kQuit},
        RequestCase{"ExitWithArguments", u"Exit 0x00000042 0x00001234 more", Effect::kQuit},
        RequestCase{"ExitCrLf", u"Exit\r\n", Effect::kNothing},
        RequestCase{"ExitNonAsciiFold", u"EX\u0130T", Effect::kNothing},
        RequestCase{"ExitPrefix", u"Exiting", Effect::kNothing},
        RequestCase{"Empty", u"", Effect::kNothing},
        RequestCase{"Blank", u"  \t  ", Effect::kNothing},
        RequestCase{"Unknown", u"GetIcon 0x00000042 0x00001234", Effect::kNothing},
        RequestCase{"GetPathNoArgument", u"GetPath", Effect::kNothing},
        RequestCase{"GetPathOneArgument", u"GetPath 0x00000042", Effect::kNothing},
        RequestCase{"GetPathPrefix", u"GetPathEx 0x00000042 0x00001234", Effect::kNothing},
        RequestCase{"GetPathSplit", u"Get Path 0x00000042 0x00001234", Effect::kNothing},
        RequestCase{"GetPath", u"GetPath 0x00000042 0x00001234", Effect::kAnswer},
        RequestCase{"GetPathMixedCase", u"gETpATH 0x00000042 0x00001234", Effect::kAnswer},
        RequestCase{"GetPathThirdArgument", u"GetPath 0x00000042 0x00001234 0x99", Effect::kAnswer},
        RequestCase{"GetPathShortDigits", u"GetPath 0x42 0x1234", Effect::kAnswer},
        RequestCase{"GetPathOddSpacing", u" \tGetPath\t\t0x00000042   0x00001234 \t",
                    Effect::kAnswer}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(ExecuteCommandTest, AsksForTheProcessWithQueryAndReadAccess) {
  Run(u"GetPath 0x00000042 0x00001234");
  EXPECT_EQ(port.openIds, std::vector<std::uint32_t>{kTargetProcess});
  EXPECT_EQ(port.openAccess, std::vector<std::uint32_t>{0x410u});
  EXPECT_EQ(port.sent.at(0).cbData, 48u);  // 23 units and the terminator
}

TEST_F(ExecuteCommandTest, AnswersAMissingWindowWithTheEmptyPath) {
  Run(u"GetPath 0x00000042 0x00005678");
  ExpectOneReply(kReply, 0x5678, u"");
  EXPECT_EQ(port.openIds, std::vector<std::uint32_t>{0u});
}

TEST_F(ExecuteCommandTest, AnswersAProcessItMayNotOpenWithTheEmptyPath) {
  port.windowOwners[0x777] = 99;  // a process without an entry in imagePaths cannot be opened
  Run(u"GetPath 0x00000042 0x00000777");
  ExpectOneReply(kReply, 0x777, u"");
}

TEST_F(ExecuteCommandTest, AnswersAnUnreadablePathWithTheEmptyPathAndClosesTheProcess) {
  port.unreadablePaths.insert(kTargetProcess);
  Run(u"GetPath 0x00000042 0x00001234");
  ExpectOneReply(kReply, kTarget, u"");
}

TEST_F(ExecuteCommandTest, WidensHandlesByZeroExtension) {
  Run(u"GetPath 0xffffffff 0xfffffffe");
  ExpectOneReply(0xffffffffu, 0xfffffffeu, u"");
}

TEST_F(ExecuteCommandTest, StillLooksUpAndSendsWhenTheReplyWindowIsMalformed) {
  Run(u"GetPath 0X00000042 0x00001234");
  ExpectOneReply(0, kTarget, kTargetPath);
}

TEST_F(ExecuteCommandTest, AnswersAPathWithoutTerminatorWithTheEmptyPath) {
  port.pathWithoutTerminator = true;
  Run(u"GetPath 0x00000042 0x00001234");
  ExpectOneReply(kReply, kTarget, u"");
}

// Windows refuses kQueryAndReadAccess on an elevated process to a normal one, but grants
// kQueryLimitedAccess: the path is then read with QueryFullProcessImageNameW. Only a path that
// fits whole into the 260 units (259 and the terminator) goes out; a cut one could name another
// file.
struct PathCase {
  const char* name;
  bool elevated;
  std::size_t length;
  bool answered;  // the path itself, else the empty text
};

class PathTableTest : public ExecuteCommandTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(PathTableTest, SendsOnlyAWholePath) {
  const PathCase& c = GetParam();
  const Text path = u"C:\\" + Text(c.length - 3, u'p');
  port.imagePaths[kTargetProcess] = path;
  if (c.elevated) port.limitedOnly.insert(kTargetProcess);
  Run(u"GetPath 0x00000042 0x00001234");
  ExpectOneReply(kReply, kTarget, c.answered ? path : Text());
  if (c.elevated) {
    EXPECT_EQ(port.openAccess, (std::vector<std::uint32_t>{0x410u, 0x1000u}));
    EXPECT_EQ(port.reads, std::vector<std::string>{"image"});
  } else {
    EXPECT_EQ(port.openAccess, std::vector<std::uint32_t>{0x410u});
    EXPECT_EQ(port.reads, std::vector<std::string>{"module"});
  }
}

INSTANTIATE_TEST_SUITE_P(Table, PathTableTest,
                         ::testing::Values(PathCase{"Fits259", false, 259, true},
                                           PathCase{"Cut260", false, 260, false},
                                           PathCase{"Cut300", false, 300, false},
                                           PathCase{"ElevatedShort", true, 23, true},
                                           PathCase{"ElevatedFits259", true, 259, true},
                                           PathCase{"ElevatedCut260", true, 260, false}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(ExecuteCommandTest, AnElevatedProcessWhosePathCannotBeReadGetsTheEmptyPath) {
  port.limitedOnly.insert(kTargetProcess);
  port.unreadablePaths.insert(kTargetProcess);
  Run(u"GetPath 0x00000042 0x00001234");
  ExpectOneReply(kReply, kTarget, u"");
  EXPECT_EQ(port.reads, std::vector<std::string>{"image"});
}

TEST_F(ExecuteCommandTest, TriesTheLimitedOpenOnlyForAProcessIdAndOnlyAfterTheFullOneFailed) {
  port.windowOwners[0x777] = 99;  // cannot be opened at all
  Run(u"GetPath 0x00000042 0x00000777");
  EXPECT_EQ(port.openAccess, (std::vector<std::uint32_t>{0x410u, 0x1000u}));
  EXPECT_EQ(port.openIds, (std::vector<std::uint32_t>{99u, 99u}));

  port.openAccess.clear();
  port.openIds.clear();
  Run(u"GetPath 0x00000042 0x00005678");  // no window: no process either
  EXPECT_EQ(port.openAccess, std::vector<std::uint32_t>{0x410u});
  EXPECT_TRUE(port.reads.empty());
  EXPECT_EQ(port.sent.size(), 2u);
  EXPECT_EQ(port.openHandles, 0);
}

// The reply is sent synchronously, so the receive window can run a further request while the
// first one waits. The outer request's reply must come through untouched.
TEST_F(ExecuteCommandTest, SurvivesARequestNestedInItsReply) {
  port.windowOwners[0x2222] = 8;
  port.imagePaths[8] = u"D:\\other.exe";
  Text outer = u"GetPath 0x00000042 0x00001234 0x00000001";
  Text inner = u"GetPath 0x00000043 0x00002222";
  int depth = 0;
  bool outerRecordIntact = false;
  port.onSend = [&](const CopyDataRecord& record) {
    if (depth++ > 0) return;
    ExecuteCommand(inner.data(), port);
    const auto* units = static_cast<const char16_t*>(record.lpData);
    outerRecordIntact = record.dwData == kTarget && record.cbData == 48 &&
                        Text(units, units + 24) == kTargetPath + u'\0';
  };
  ExecuteCommand(outer.data(), port);

  ASSERT_EQ(port.sent.size(), 2u);
  EXPECT_EQ(port.sent[0].receiver, kReply);
  EXPECT_EQ(port.sent[0].data, kTargetPath + u'\0');
  EXPECT_EQ(port.sent[1].receiver, 0x43u);
  EXPECT_EQ(port.sent[1].wParam, 0x2222u);
  EXPECT_EQ(port.sent[1].data, Text(u"D:\\other.exe") + u'\0');
  EXPECT_TRUE(outerRecordIntact);
  EXPECT_EQ(port.openHandles, 0);
}

TEST_F(ExecuteCommandTest, ExitNestedInAReplyPostsTheQuitMessageOnce) {
  Text inner = u"exit";
  port.onSend = [&](const CopyDataRecord&) { ExecuteCommand(inner.data(), port); };
  Run(u"GetPath 0x00000042 0x00001234");
  EXPECT_EQ(port.quitCodes, std::vector<int>{0});
  ExpectOneReply(kReply, kTarget, kTargetPath);
}

}  // namespace
}  // namespace quillon
