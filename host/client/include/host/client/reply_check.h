// Checks a "GetPath" reply before anything of it is used. The record comes from another process,
// so nothing in it is trusted: the size may lie, the text may lack its terminator, and the reply
// may belong to a request we did not make.
#ifndef QUILLON_HOST_CLIENT_REPLY_CHECK_H
#define QUILLON_HOST_CLIENT_REPLY_CHECK_H

#include <string>

#include "host/client/assistant_port.h"

namespace quillon {

enum class ReplyFault {
  kNone,
  kNotOurs,       // wParam or dwData is not the target we asked about
  kNoData,        // no bytes at all, or no data pointer
  kTruncated,     // fewer bytes readable than cbData claims
  kOddSize,       // cbData is not a whole number of UTF-16 units
  kTooLong,       // more units than a path reply can hold
  kUnterminated,  // the last unit is not the terminator
  kEmbeddedZero,  // a terminator before the last unit: the size does not match the text
};

struct CheckedReply {
  ReplyFault fault = ReplyFault::kNone;
  std::u16string path;  // only when fault is kNone; may be empty ("not available")
};

// Handles travel as 32-bit numbers in the request, so only their low 32 bits are compared.
CheckedReply CheckReply(const ReplyRecord& record, WindowId target);

const char* Describe(ReplyFault fault);

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_REPLY_CHECK_H
