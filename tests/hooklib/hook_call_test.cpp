#include "hooklib/hook_call.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillon {
namespace {

// Same field order as the system's CWPRETSTRUCT.
struct Record {
  std::intptr_t lResult;
  std::intptr_t lParam;
  std::uintptr_t wParam;
  unsigned message;
  void* hwnd;
  bool operator==(const Record&) const = default;  // field by field: the padding is no part of it
};

struct Post {
  std::uintptr_t target;
  unsigned message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
  bool operator==(const Post&) const = default;
};

struct Call {
  int code;
  std::uintptr_t wParam;
  std::intptr_t lParam;
  bool operator==(const Call&) const = default;
};

struct FakeHookPort {
  std::uintptr_t NoticeTarget() {
    ++targetLookups;
    return dialog;
  }
  void Post(std::uintptr_t target, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    posts.push_back({target, message, wParam, lParam});
  }
  std::intptr_t CallNext(int code, std::uintptr_t wParam, std::intptr_t lParam) {
    calls.push_back({code, wParam, lParam});
    return kNextResult;
  }
  static constexpr std::intptr_t kNextResult = 0x5EED;
  std::uintptr_t dialog = 0;  // where the notices go
  int targetLookups = 0;      // only a notice that is due may pay for finding its target
  std::vector<struct Post> posts;
  std::vector<Call> calls;
};

constexpr std::uintptr_t kHostDialog = 0xD1A;
void* const kWindow = reinterpret_cast<void*>(std::uintptr_t{0x1234});

std::intptr_t AddressOf(const Record& record) { return reinterpret_cast<std::intptr_t>(&record); }

struct HookCase {
  const char* name;
  int code;
  bool withRecord;
  unsigned message;
  std::uintptr_t hostDialog;
  bool notice;
};

const HookCase kHookCases[] = {
    {"SetIcon", 0, true, 0x80, kHostDialog, true},
    {"SetIconPositiveCode", 3, true, 0x80, kHostDialog, true},
    {"NegativeCode", -1, true, 0x80, kHostDialog, false},
    {"NullRecord", 0, false, 0x80, kHostDialog, false},
    {"NoHostDialog", 0, true, 0x80, 0, false},
    {"GetIcon", 0, true, 0x7F, kHostDialog, false},
    {"Paint", 0, true, 0x0F, kHostDialog, false},
};

class HookCall : public testing::TestWithParam<HookCase> {};

TEST_P(HookCall, PostsTheNoticeOnlyForSetIconAndAlwaysPassesTheCallOn) {
  const HookCase& c = GetParam();
  Record record{7, 0x11, 0x22, c.message, kWindow};
  const Record before = record;
  const std::intptr_t lParam = c.withRecord ? AddressOf(record) : 0;
  FakeHookPort port;
  port.dialog = c.hostDialog;

  const auto result = HandleHookCall<Record>(port, c.code, std::uintptr_t{1}, lParam);

  EXPECT_EQ(result, FakeHookPort::kNextResult);
  const bool setIcon = c.code >= 0 && c.withRecord && c.message == 0x80;
  EXPECT_EQ(port.targetLookups, setIcon ? 1 : 0);
  EXPECT_EQ(port.calls, (std::vector<Call>{{c.code, 1, lParam}}));
  if (c.notice) {
    EXPECT_EQ(port.posts, (std::vector<Post>{{kHostDialog, 0x0F, 0x1234, 0x80}}));
  } else {
    EXPECT_TRUE(port.posts.empty());
  }
  EXPECT_TRUE(record == before) << "the record must not change";
}

INSTANTIATE_TEST_SUITE_P(Calls, HookCall, testing::ValuesIn(kHookCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(HookCall, EverySetIconGivesItsOwnNotice) {
  FakeHookPort port;
  port.dialog = kHostDialog;
  Record first{0, 0, 0, 0x80, kWindow};
  Record child{0, 0, 0, 0x80, reinterpret_cast<void*>(std::uintptr_t{0x5678})};
  HandleHookCall<Record>(port, 0, std::uintptr_t{0}, AddressOf(first));
  HandleHookCall<Record>(port, 0, std::uintptr_t{0}, AddressOf(first));
  HandleHookCall<Record>(port, 0, std::uintptr_t{0}, AddressOf(child));

  EXPECT_EQ(port.posts, (std::vector<Post>{{kHostDialog, 0x0F, 0x1234, 0x80},
                                           {kHostDialog, 0x0F, 0x1234, 0x80},
                                           {kHostDialog, 0x0F, 0x5678, 0x80}}));
  EXPECT_EQ(port.calls.size(), 3u);
}

}  // namespace
}  // namespace quillon
