// Reads a fuzzer's byte string as a sequence of small decisions and texts. Running out of bytes
// yields zeros and empty texts, so every byte string is a valid input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace quillon::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t Remaining() const { return size_ - position_; }
  bool Empty() const { return position_ == size_; }

  template <class T>
  T Take() {
    T value{};
    const std::size_t n = sizeof(T) < Remaining() ? sizeof(T) : Remaining();
    if (n != 0) std::memcpy(&value, data_ + position_, n);
    position_ += n;
    return value;
  }

  bool Flag() { return (Take<std::uint8_t>() & 1u) != 0; }

  // A count in [0, limit].
  std::size_t Count(std::size_t limit) {
    return limit == 0 ? 0 : Take<std::uint16_t>() % (limit + 1);
  }

  // A text of at most `limit` units (may contain zeros only where `allowZero`).
  template <class Ch>
  std::basic_string<Ch> Text(std::size_t limit, bool allowZero = false) {
    const std::size_t length = Count(limit);
    std::basic_string<Ch> text;
    for (std::size_t i = 0; i < length && !Empty(); ++i) {
      Ch unit = Take<Ch>();
      if (!allowZero && unit == Ch(0)) unit = Ch('0');
      text.push_back(unit);
    }
    return text;
  }

  // The bytes that are left.
  const std::uint8_t* Rest(std::size_t& size) {
    size = Remaining();
    const std::uint8_t* rest = data_ + position_;
    position_ = size_;
    return rest;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// Ends the run with a message the fuzzer keeps as the finding.
[[noreturn]] void Fail(const char* what);

#define FUZZ_CHECK(condition)                                                       \
  do {                                                                              \
    if (!(condition))                                                               \
      ::quillon::fuzz::Fail(__FILE__ ":" FUZZ_LINE_TEXT(__LINE__) ": " #condition); \
  } while (false)
#define FUZZ_LINE_TEXT(line) FUZZ_LINE_TEXT2(line)
#define FUZZ_LINE_TEXT2(line) #line

}  // namespace quillon::fuzz
