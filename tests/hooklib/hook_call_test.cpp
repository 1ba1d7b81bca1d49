#include "hooklib/hook_call.h"

#include <gtest/gtest.h>

#include <functional>
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
  bool PostNotice(std::uintptr_t window) {
    ++postAttempts;
    if (!posts) return false;
    notices.push_back(window);
    return true;
  }
  std::uintptr_t* PostedRecordSlot() {
    ++slotLooks;
    return hasSlot ? &slot : nullptr;
  }
  // The next hooks: `next` stands for them (another hook of the same procedure, say).
  std::intptr_t CallNext(int code, std::uintptr_t wParam, std::intptr_t lParam) {
    calls.push_back({code, wParam, lParam});
    if (next) {
      auto inner = std::move(next);  // one level deep unless it sets a further one
      inner(*this);
    }
    return kNextResult;
  }
  static constexpr std::intptr_t kNextResult = 0x5EED;
  bool posts = true;  // whether a post reaches a dialog
  bool hasSlot = true;
  std::uintptr_t slot = 0;
  int slotLooks = 0;
  std::size_t postAttempts = 0;
  std::function<void(FakeHookPort&)> next;
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
  EXPECT_EQ(port.slotLooks, c.notice ? 1 : 0) << "only a WM_SETICON may look at the mark";
  EXPECT_EQ(port.slot, 0u);
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

// The chain holds the procedure twice: the second call runs inside the first one's CallNext, on
// the same thread, with the same record.
struct NestedCase {
  const char* name;
  bool posts;            // the outer call's post reaches a dialog
  bool hasSlot;          // the thread has its mark
  bool sameRecord;       // the nested call is for the outer call's record
  std::size_t attempts;  // the posts tried
};

const NestedCase kNestedCases[] = {
    // The one that matters: a killed host's hook kept by Wine beside the new host's.
    {"SecondHookOfTheProcedure", true, true, true, 1},
    // Nothing was posted further out, so the nested call tries (the dialog may be back).
    {"OuterPostFailed", false, true, true, 2},
    // A WM_SETICON sent from within the next hooks is another change.
    {"AnotherRecordInside", true, true, false, 2},
    // Without its mark the thread gets every notice as before, never none.
    {"NoMark", true, false, true, 2},
};

class NestedHookCall : public testing::TestWithParam<NestedCase> {};

TEST_P(NestedHookCall, PostsOneNoticePerRecord) {
  const NestedCase& c = GetParam();
  Record outer{0, 0, 0, 0x80, kWindow};
  Record other{0, 0, 0, 0x80, reinterpret_cast<void*>(std::uintptr_t{0x5678})};
  const std::intptr_t innerRecord = AddressOf(c.sameRecord ? outer : other);
  FakeHookPort port;
  port.posts = c.posts;
  port.hasSlot = c.hasSlot;
  std::intptr_t innerResult = 0;
  port.next = [&](FakeHookPort& p) {
    innerResult = HandleHookCall<Record>(p, 0, std::uintptr_t{0}, innerRecord);
  };

  const auto result = HandleHookCall<Record>(port, 0, std::uintptr_t{0}, AddressOf(outer));

  EXPECT_EQ(port.postAttempts, c.attempts);
  EXPECT_EQ(port.notices.size(), c.posts ? c.attempts : 0);
  EXPECT_EQ(result, FakeHookPort::kNextResult);
  EXPECT_EQ(innerResult, FakeHookPort::kNextResult);
  EXPECT_EQ(port.calls.size(), 2u) << "both calls pass the message on";
  EXPECT_EQ(port.slot, 0u) << "the mark outlived the call that set it";
}

INSTANTIATE_TEST_SUITE_P(Calls, NestedHookCall, testing::ValuesIn(kNestedCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(NestedHookCall, AnInnerChangeLeavesTheOuterRecordMarked) {
  Record outer{0, 0, 0, 0x80, kWindow};
  Record other{0, 0, 0, 0x80, reinterpret_cast<void*>(std::uintptr_t{0x5678})};
  const auto call = [](FakeHookPort& p, const Record& r) {
    HandleHookCall<Record>(p, 0, std::uintptr_t{0}, AddressOf(r));
  };
  FakeHookPort port;
  // Inside the outer call's CallNext: a hook sends WM_SETICON to another window (whose chain
  // holds the procedure twice too), then the second hook of the procedure runs for the outer one.
  port.next = [&](FakeHookPort& p) {
    p.next = [&](FakeHookPort& q) { call(q, other); };
    call(p, other);
    call(p, outer);
  };

  call(port, outer);

  EXPECT_EQ(port.notices, (std::vector<std::uintptr_t>{0x1234, 0x5678}));
  EXPECT_EQ(port.slot, 0u);
}

}  // namespace
}  // namespace quillon
