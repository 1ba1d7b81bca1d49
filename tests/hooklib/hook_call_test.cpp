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

struct Call {
  int code;
  std::uintptr_t wParam;
  std::intptr_t lParam;
  bool operator==(const Call&) const = default;
};

struct FakeHookPort {
  void PostNotice(std::uintptr_t window) { notices.push_back(window); }
  std::intptr_t CallNext(int code, std::uintptr_t wParam, std::intptr_t lParam) {
    calls.push_back({code, wParam, lParam});
    return kNextResult;
  }
  static constexpr std::intptr_t kNextResult = 0x5EED;
  std::vector<std::uintptr_t> notices;  // the windows the notices were for
  std::vector<Call> calls;
};

void* const kWindow = reinterpret_cast<void*>(std::uintptr_t{0x1234});

std::intptr_t AddressOf(const Record& record) { return reinterpret_cast<std::intptr_t>(&record); }

// Where a notice goes, and whether there is a dialog at all, is the notice target's business
// (notice_target_test.cpp); here only whether a notice is due.
struct HookCase {
  const char* name;
  int code;
  bool withRecord;
  unsigned message;
  bool notice;
};

const HookCase kHookCases[] = {
    {"SetIcon", 0, true, 0x80, true},        {"SetIconPositiveCode", 3, true, 0x80, true},
    {"NegativeCode", -1, true, 0x80, false}, {"NullRecord", 0, false, 0x80, false},
    {"GetIcon", 0, true, 0x7F, false},       {"Paint", 0, true, 0x0F, false},
};

class HookCall : public testing::TestWithParam<HookCase> {};

TEST_P(HookCall, PostsTheNoticeOnlyForSetIconAndAlwaysPassesTheCallOn) {
  const HookCase& c = GetParam();
  Record record{7, 0x11, 0x22, c.message, kWindow};
  const Record before = record;
  const std::intptr_t lParam = c.withRecord ? AddressOf(record) : 0;
  FakeHookPort port;

  const auto result = HandleHookCall<Record>(port, c.code, std::uintptr_t{1}, lParam);

  EXPECT_EQ(result, FakeHookPort::kNextResult);
  EXPECT_EQ(port.calls, (std::vector<Call>{{c.code, 1, lParam}}));
  if (c.notice) {
    EXPECT_EQ(port.notices, std::vector<std::uintptr_t>{0x1234});
  } else {
    EXPECT_TRUE(port.notices.empty());
  }
  EXPECT_TRUE(record == before) << "the record must not change";
}

INSTANTIATE_TEST_SUITE_P(Calls, HookCall, testing::ValuesIn(kHookCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(HookCall, EverySetIconGivesItsOwnNotice) {
  FakeHookPort port;
  Record first{0, 0, 0, 0x80, kWindow};
  Record child{0, 0, 0, 0x80, reinterpret_cast<void*>(std::uintptr_t{0x5678})};
  HandleHookCall<Record>(port, 0, std::uintptr_t{0}, AddressOf(first));
  HandleHookCall<Record>(port, 0, std::uintptr_t{0}, AddressOf(first));
  HandleHookCall<Record>(port, 0, std::uintptr_t{0}, AddressOf(child));

  EXPECT_EQ(port.notices, (std::vector<std::uintptr_t>{0x1234, 0x1234, 0x5678}));
  EXPECT_EQ(port.calls.size(), 3u);
}

}  // namespace
}  // namespace quillon
