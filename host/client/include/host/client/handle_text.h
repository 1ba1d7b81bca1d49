// The host's main window handle is stored as decimal text ("Handle"). The two companions read it
// with different rules, both over the same grammar: leading white space (space, \t, \n, \v, \f,
// \r), an optional sign, then decimal digits; reading stops at the first other character, and a
// text without digits reads as 0. No locale is involved.
#ifndef QUILLON_HOST_CLIENT_HANDLE_TEXT_H
#define QUILLON_HOST_CLIENT_HANDLE_TEXT_H

#include <cstdint>

namespace quillon {
namespace handle_text_detail {

template <class Ch>
constexpr bool IsSpace(Ch c) noexcept {
  return c == Ch(' ') || c == Ch('\t') || c == Ch('\n') || c == Ch('\v') || c == Ch('\f') ||
         c == Ch('\r');
}

template <class Ch>
constexpr bool IsDigit(Ch c) noexcept {
  return c >= Ch('0') && c <= Ch('9');
}

template <class Ch>
constexpr std::uint32_t DigitValue(Ch c) noexcept {
  return static_cast<std::uint32_t>(c - Ch('0'));
}

// Skips the white space and the sign; returns the first digit position and whether it was '-'.
template <class Ch>
constexpr const Ch* SkipPrefix(const Ch* text, bool& negative) noexcept {
  while (IsSpace(*text)) ++text;
  negative = *text == Ch('-');
  if (*text == Ch('-') || *text == Ch('+')) ++text;
  return text;
}

}  // namespace handle_text_detail

// 32-bit reading whose accumulation wraps modulo 2^32; '-' negates the wrapped result.
template <class Ch>
constexpr std::uint32_t ParseHandleWrapping(const Ch* text) noexcept {
  using namespace handle_text_detail;
  if (text == nullptr) return 0;
  bool negative = false;
  std::uint32_t value = 0;
  for (text = SkipPrefix(text, negative); IsDigit(*text); ++text) {
    value = value * 10u + DigitValue(*text);
  }
  return negative ? 0u - value : value;
}

// Signed 32-bit reading that saturates at INT32_MAX / INT32_MIN once the number leaves the range.
template <class Ch>
constexpr std::int32_t ParseHandleSaturating(const Ch* text) noexcept {
  using namespace handle_text_detail;
  if (text == nullptr) return 0;
  bool negative = false;
  // One past INT32_MAX is the magnitude of INT32_MIN; growing stops there.
  constexpr std::int64_t kLimit = std::int64_t{INT32_MAX} + 1;
  std::int64_t magnitude = 0;
  for (text = SkipPrefix(text, negative); IsDigit(*text); ++text) {
    if (magnitude < kLimit) {
      magnitude = magnitude * 10 + static_cast<std::int64_t>(DigitValue(*text));
      if (magnitude > kLimit) magnitude = kLimit;
    }
  }
  if (negative) return static_cast<std::int32_t>(-magnitude);
  return static_cast<std::int32_t>(magnitude < kLimit ? magnitude : INT32_MAX);
}

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_HANDLE_TEXT_H
