// The bounded copy of a WM_COPYDATA request: the sender's bytes are valid only while the message
// is being handled, and nothing they contain may make us read or write past either buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <optional>

#include "host/contract.h"

namespace quillon {

// A request text with its terminator; the units after the terminator are zero.
template <class Ch>
using RequestText = std::array<Ch, contract::kMaxRequestUnits>;

// Copies the zero-terminated text at the start of `data` (`byteCount` bytes long). Returns
// nothing when there is no data, when no terminator lies within the whole units that `byteCount`
// covers, or when the text with its terminator does not fit into a RequestText.
// `data` need not be aligned for Ch.
template <class Ch>
std::optional<RequestText<Ch>> CopyRequestText(const void* data, std::size_t byteCount) {
  if (data == nullptr) return std::nullopt;
  const auto* bytes = static_cast<const unsigned char*>(data);
  const std::size_t available = byteCount / sizeof(Ch);
  RequestText<Ch> text{};
  const std::size_t limit = available < text.size() ? available : text.size();
  for (std::size_t i = 0; i < limit; ++i) {
    Ch unit;
    std::memcpy(&unit, bytes + i * sizeof(Ch), sizeof(Ch));
    text[i] = unit;
    if (unit == Ch(0)) return text;
  }
  return std::nullopt;
}

}  // namespace quillon
