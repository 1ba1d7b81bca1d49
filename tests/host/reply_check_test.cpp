// A reply comes from another process: every way its record can be wrong is rejected, and the
// check never reads a byte outside the record (ASan watches the fixtures below).
#include "host/client/reply_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace quillon {
namespace {

constexpr WindowId kTarget = 0x00010234;

// The reply bytes live in a heap block of exactly `bytes.size()` so that any read past the end
// is an ASan error.
struct Fixture {
  std::unique_ptr<unsigned char[]> block;
  ReplyRecord record;
};

Fixture Make(const std::vector<unsigned char>& bytes, std::uint32_t cb, std::uintptr_t wparam,
             std::uintptr_t dwdata, std::size_t misalign = 0) {
  Fixture f;
  f.block = std::make_unique<unsigned char[]>(bytes.size() + misalign);
  if (!bytes.empty()) std::memcpy(f.block.get() + misalign, bytes.data(), bytes.size());
  f.record.wParam = wparam;
  f.record.dwData = dwdata;
  f.record.cbData = cb;
  f.record.data = bytes.empty() && misalign == 0 ? nullptr : f.block.get() + misalign;
  f.record.available = bytes.size();
  return f;
}

std::vector<unsigned char> Utf16Bytes(std::u16string_view text) {
  std::vector<unsigned char> out;
  for (char16_t u : text) {
    out.push_back(static_cast<unsigned char>(u & 0xFF));
    out.push_back(static_cast<unsigned char>(u >> 8));
  }
  return out;
}

std::u16string Zeroed(std::u16string_view text) { return std::u16string(text) + u'\0'; }

struct Case {
  const char* name;
  std::vector<unsigned char> bytes;
  std::uint32_t cb;
  std::uintptr_t wparam;
  std::uintptr_t dwdata;
  ReplyFault fault;
  std::u16string path;
};

TEST(ReplyCheck, Table) {
  const auto path = Utf16Bytes(Zeroed(u"C:\\windows\\notepad.exe"));
  const auto empty = Utf16Bytes(Zeroed(u""));
  auto sized = [](const std::vector<unsigned char>& b) {
    return static_cast<std::uint32_t>(b.size());
  };
  std::vector<unsigned char> odd = path;
  odd.push_back(0);
  std::vector<unsigned char> unterminated = Utf16Bytes(u"C:\\a.exe");
  std::vector<unsigned char> embedded = Utf16Bytes(std::u16string_view(u"C:\\a\0b.exe", 10));
  embedded.push_back(0);
  embedded.push_back(0);
  const auto longest = Utf16Bytes(Zeroed(std::u16string(259, u'x')));
  const auto too_long = Utf16Bytes(Zeroed(std::u16string(260, u'x')));
  const std::uintptr_t other = kTarget + 1;

  const std::vector<Case> cases = {
      {"normal path", path, sized(path), kTarget, kTarget, ReplyFault::kNone,
       u"C:\\windows\\notepad.exe"},
      {"empty text means not available", empty, 2, kTarget, kTarget, ReplyFault::kNone, u""},
      {"longest path", longest, sized(longest), kTarget, kTarget, ReplyFault::kNone,
       std::u16string(259, u'x')},
      {"wParam names another window", path, sized(path), other, kTarget, ReplyFault::kNotOurs, u""},
      {"dwData names another window", path, sized(path), kTarget, other, ReplyFault::kNotOurs, u""},
      {"both name another window", path, sized(path), other, other, ReplyFault::kNotOurs, u""},
      {"no bytes", {}, 0, kTarget, kTarget, ReplyFault::kNoData, u""},
      {"size without data", {}, 8, kTarget, kTarget, ReplyFault::kNoData, u""},
      {"shorter than cbData claims", path, sized(path) + 2, kTarget, kTarget,
       ReplyFault::kTruncated, u""},
      {"cbData far beyond the data", empty, 0xFFFFFFFEu, kTarget, kTarget, ReplyFault::kTruncated,
       u""},
      {"odd byte count", odd, sized(odd), kTarget, kTarget, ReplyFault::kOddSize, u""},
      {"single byte", {0}, 1, kTarget, kTarget, ReplyFault::kOddSize, u""},
      {"longer than a path can be", too_long, sized(too_long), kTarget, kTarget,
       ReplyFault::kTooLong, u""},
      {"no terminator", unterminated, sized(unterminated), kTarget, kTarget,
       ReplyFault::kUnterminated, u""},
      {"terminator cut off by cbData", path, sized(path) - 2, kTarget, kTarget,
       ReplyFault::kUnterminated, u""},
      {"zero inside the text", embedded, sized(embedded), kTarget, kTarget,
       ReplyFault::kEmbeddedZero, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f = Make(c.bytes, c.cb, c.wparam, c.dwdata);
    const CheckedReply checked = CheckReply(f.record, kTarget);
    EXPECT_EQ(checked.fault, c.fault) << Describe(checked.fault);
    EXPECT_EQ(checked.path, c.path);
  }
}

TEST(ReplyCheck, ComparesHandlesAsTheRequestCarriedThem) {
  // The request carries 32 bits; a 64-bit host's handle value may carry sign-extension bits
  // that Sidecar64 never saw. The reply is still ours.
  const auto path = Utf16Bytes(Zeroed(u"C:\\x.exe"));
  const WindowId wide_target = static_cast<WindowId>(0xFFFFFFFF80001234ull & UINTPTR_MAX);
  Fixture f = Make(path, static_cast<std::uint32_t>(path.size()), 0x80001234u, 0x80001234u);
  EXPECT_EQ(CheckReply(f.record, wide_target).fault, ReplyFault::kNone);
}

TEST(ReplyCheck, ReadsUnalignedData) {
  const auto path = Utf16Bytes(Zeroed(u"C:\\odd.exe"));
  Fixture f = Make(path, static_cast<std::uint32_t>(path.size()), kTarget, kTarget, 1);
  const CheckedReply checked = CheckReply(f.record, kTarget);
  EXPECT_EQ(checked.fault, ReplyFault::kNone);
  EXPECT_EQ(checked.path, u"C:\\odd.exe");
}

}  // namespace
}  // namespace quillon
