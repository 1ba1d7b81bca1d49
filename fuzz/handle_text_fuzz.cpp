// The two decimal rules for the liveness value "Handle", checked differentially against wide
// arithmetic: the hook library's wrapping 32-bit reading against exact accumulation modulo 2^64
// (of which 2^32 is a divisor), the assistant's saturating reading against 128-bit accumulation
// that stops growing once it is past the 32-bit range. Also the widening of both to a handle.
//
// Input: [form: 0 char, 1 char16_t, 2 wchar_t][units...]; the text ends at the first zero unit
// or at the end of the input (a terminator is added there).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "hooklib/watchdog.h"
#include "settings/handle_text.h"

namespace quillon::fuzz {
namespace {

// 128-bit arithmetic, a compiler extension of both GCC and Clang.
__extension__ typedef unsigned __int128 U128;
__extension__ typedef __int128 S128;

template <class Ch>
struct Reference {
  std::uint32_t wrapping = 0;
  std::int32_t saturating = 0;
};

template <class Ch>
Reference<Ch> Compute(const Ch* text) {
  auto space = [](Ch c) {
    return c == Ch(' ') || c == Ch('\t') || c == Ch('\n') || c == Ch('\v') || c == Ch('\f') ||
           c == Ch('\r');
  };
  std::size_t i = 0;
  while (space(text[i])) ++i;
  bool negative = false;
  if (text[i] == Ch('-') || text[i] == Ch('+')) negative = text[i++] == Ch('-');
  std::uint64_t exact64 = 0;  // the number modulo 2^64
  U128 bounded = 0;           // the number, or something past 2^31 once it got there
  constexpr U128 kPast = (static_cast<U128>(1) << 31) + 1;
  for (; text[i] >= Ch('0') && text[i] <= Ch('9'); ++i) {
    const auto digit = static_cast<unsigned>(text[i] - Ch('0'));
    exact64 = exact64 * 10 + digit;
    if (bounded < kPast) bounded = bounded * 10 + digit;
  }
  Reference<Ch> result;
  const auto low = static_cast<std::uint32_t>(exact64);
  result.wrapping = negative ? static_cast<std::uint32_t>(0u - low) : low;
  const S128 signedValue = negative ? -static_cast<S128>(bounded) : static_cast<S128>(bounded);
  if (signedValue > INT32_MAX) {
    result.saturating = INT32_MAX;
  } else if (signedValue < INT32_MIN) {
    result.saturating = INT32_MIN;
  } else {
    result.saturating = static_cast<std::int32_t>(signedValue);
  }
  return result;
}

template <class Ch>
void Check(const std::uint8_t* data, std::size_t size) {
  std::vector<Ch> text(size / sizeof(Ch) + 1, Ch(0));
  if (size >= sizeof(Ch)) std::memcpy(text.data(), data, (size / sizeof(Ch)) * sizeof(Ch));
  const Reference<Ch> expected = Compute(text.data());
  FUZZ_CHECK(ParseHandleWrapping(text.data()) == expected.wrapping);
  FUZZ_CHECK(ParseHandleSaturating(text.data()) == expected.saturating);
  // The assistant widens with the sign: a 64-bit handle equal to the 32-bit value sign-extended.
  const auto widened = static_cast<std::int64_t>(ParseHandleSaturating(text.data()));
  FUZZ_CHECK(widened == static_cast<std::int64_t>(expected.saturating));
}

}  // namespace
}  // namespace quillon::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon::fuzz;
  if (size == 0) return 0;
  const std::uint8_t form = data[0] % 3;
  ++data;
  --size;
  if (form == 0) {
    Check<char>(data, size);
    // The hook library's watchdog: the wrapped 32-bit value, zero-extended to a handle.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    FUZZ_CHECK(quillon::HostWindowFromText(text.data()) ==
               static_cast<std::uintptr_t>(quillon::ParseHandleWrapping(text.data())));
  } else if (form == 1) {
    Check<char16_t>(data, size);
  } else {
    Check<wchar_t>(data, size);
  }
  return 0;
}
