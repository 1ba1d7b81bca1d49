#include "host/client/reply_check.h"

#include <cstdint>
#include <cstring>

#include "host/contract.h"

namespace quillon {
namespace {

bool SameHandle(std::uintptr_t a, WindowId b) {
  return static_cast<std::uint32_t>(a) == static_cast<std::uint32_t>(b);
}

}  // namespace

CheckedReply CheckReply(const ReplyRecord& record, WindowId target) {
  if (!SameHandle(record.wParam, target) || !SameHandle(record.dwData, target)) {
    return {ReplyFault::kNotOurs, {}};
  }
  if (record.cbData == 0 || record.data == nullptr) return {ReplyFault::kNoData, {}};
  if (record.cbData > record.available) return {ReplyFault::kTruncated, {}};
  if (record.cbData % sizeof(char16_t) != 0) return {ReplyFault::kOddSize, {}};
  const std::size_t units = record.cbData / sizeof(char16_t);
  if (units > contract::kMaxPathUnits) return {ReplyFault::kTooLong, {}};

  // The data need not be aligned for char16_t: copy it out unit by unit.
  const auto* bytes = static_cast<const unsigned char*>(record.data);
  auto unit_at = [bytes](std::size_t i) {
    char16_t u;
    std::memcpy(&u, bytes + i * sizeof(char16_t), sizeof(u));
    return u;
  };
  if (unit_at(units - 1) != u'\0') return {ReplyFault::kUnterminated, {}};

  CheckedReply result;
  result.path.reserve(units - 1);
  for (std::size_t i = 0; i + 1 < units; ++i) {
    const char16_t u = unit_at(i);
    if (u == u'\0') return {ReplyFault::kEmbeddedZero, {}};
    result.path.push_back(u);
  }
  return result;
}

const char* Describe(ReplyFault fault) {
  switch (fault) {
    case ReplyFault::kNone:
      return "ok";
    case ReplyFault::kNotOurs:
      return "reply for another window";
    case ReplyFault::kNoData:
      return "reply without data";
    case ReplyFault::kTruncated:
      return "reply shorter than its size";
    case ReplyFault::kOddSize:
      return "reply of an odd byte count";
    case ReplyFault::kTooLong:
      return "reply longer than a path";
    case ReplyFault::kUnterminated:
      return "reply without terminator";
    case ReplyFault::kEmbeddedZero:
      return "reply size does not match its text";
  }
  return "unknown";
}

}  // namespace quillon
