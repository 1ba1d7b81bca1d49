// The pieces of the request grammar: splitting at spaces and tabs, the command-word comparison
// and the reading of "0x%08x" handle arguments.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quillon {

template <class Ch>
constexpr bool IsRequestDelimiter(Ch c) {
  return c == Ch(' ') || c == Ch('\t');
}

// The tokens of one request. Only the first two arguments are ever used, so only they are kept;
// `argCount` still counts all of them.
template <class Ch>
struct RequestTokens {
  Ch* word = nullptr;
  std::array<Ch*, 2> args{};
  std::size_t argCount = 0;
};

// Splits `text` in place: the delimiter that ends a token becomes its terminator. All tokens are
// taken here, before anything runs, and no state outlives the call (requests can nest).
template <class Ch>
RequestTokens<Ch> SplitRequest(Ch* text) {
  RequestTokens<Ch> tokens;
  if (text == nullptr) return tokens;
  Ch* p = text;
  for (;;) {
    while (IsRequestDelimiter(*p)) ++p;
    if (*p == Ch(0)) break;
    Ch* const token = p;
    while (*p != Ch(0) && !IsRequestDelimiter(*p)) ++p;
    if (*p != Ch(0)) *p++ = Ch(0);
    if (tokens.word == nullptr) {
      tokens.word = token;
    } else {
      if (tokens.argCount < tokens.args.size()) tokens.args[tokens.argCount] = token;
      ++tokens.argCount;
    }
  }
  return tokens;
}

// Folds A-Z only: the command words are ASCII and no locale may widen what matches.
template <class Ch>
constexpr Ch FoldAsciiCase(Ch c) {
  return (c >= Ch('A') && c <= Ch('Z')) ? static_cast<Ch>(c - Ch('A') + Ch('a')) : c;
}

template <class Ch>
constexpr bool EqualsIgnoringAsciiCase(const Ch* token, const Ch* word) {
  for (;; ++token, ++word) {
    if (FoldAsciiCase(*token) != FoldAsciiCase(*word)) return false;
    if (*token == Ch(0)) return true;
  }
}

template <class Ch>
constexpr int HexDigitValue(Ch c) {
  if (c >= Ch('0') && c <= Ch('9')) return static_cast<int>(c - Ch('0'));
  if (c >= Ch('a') && c <= Ch('f')) return static_cast<int>(c - Ch('a')) + 10;
  if (c >= Ch('A') && c <= Ch('F')) return static_cast<int>(c - Ch('A')) + 10;
  return -1;
}

// Reads a handle written as "0x%08x": exactly "0x", then at most eight hex digits; anything after
// them is ignored. Every malformed token gives 0.
template <class Ch>
constexpr std::uint32_t ParseHandleArgument(const Ch* token) {
  if (token == nullptr || token[0] != Ch('0') || token[1] != Ch('x')) return 0;
  std::uint32_t value = 0;
  const Ch* p = token + 2;
  for (int digits = 0; digits < 8; ++digits, ++p) {
    const int digit = HexDigitValue(*p);
    if (digit < 0) break;
    value = value * 16u + static_cast<std::uint32_t>(digit);
  }
  return value;
}

}  // namespace quillon
