// Shared by the settings tests: the two character forms, an allocation policy that fails on
// request, and helpers to write literals once for both forms.
#pragma once

#include <cstddef>
#include <new>
#include <string>
#include <type_traits>

#include "settings/text_alloc.h"

namespace quillon::test {

// Which allocation (counted from 1 after Arm) fails, and whether every later one fails too.
class AllocFailure {
 public:
  static void Arm(int failAt, bool persistent = false) {
    calls_ = 0;
    failAt_ = failAt;
    persistent_ = persistent;
  }
  static void Disarm() { failAt_ = 0; }
  static int Calls() { return calls_; }
  static bool NextFails() {
    ++calls_;
    return failAt_ != 0 && (calls_ == failAt_ || (persistent_ && calls_ > failAt_));
  }

 private:
  static inline int calls_ = 0;
  static inline int failAt_ = 0;
  static inline bool persistent_ = false;
};

// Disarms the failure injection when a test ends, whichever way it ends.
struct ScopedAllocFailure {
  explicit ScopedAllocFailure(int failAt, bool persistent = false) {
    AllocFailure::Arm(failAt, persistent);
  }
  ~ScopedAllocFailure() { AllocFailure::Disarm(); }
  ScopedAllocFailure(const ScopedAllocFailure&) = delete;
  ScopedAllocFailure& operator=(const ScopedAllocFailure&) = delete;
};

// Wraps a production policy; an injected failure looks exactly like the real one would.
template <class Base>
struct FailingAlloc {
  static constexpr bool kThrows = std::is_same_v<Base, ThrowingTextAlloc>;
  static void* Allocate(std::size_t bytes) {
    if (AllocFailure::NextFails()) {
      if constexpr (kThrows) throw std::bad_alloc();
      return nullptr;
    }
    return Base::Allocate(bytes);
  }
  static void Release(void* block) noexcept { Base::Release(block); }
};

// The narrow form (ANSI text, codes on failure) and the wide form (UTF-16, std::bad_alloc);
// FileCh is the characters of their file calls. The narrow form with UTF-16 file calls is the
// hook library's store on Windows.
struct NarrowForm {
  using Ch = char;
  using FileCh = char;
  using Alloc = FailingAlloc<NothrowTextAlloc>;
  static constexpr bool kThrows = false;
};
struct WideForm {
  using Ch = char16_t;
  using FileCh = char16_t;
  using Alloc = FailingAlloc<ThrowingTextAlloc>;
  static constexpr bool kThrows = true;
};
struct NarrowWithWideFileForm {
  using Ch = char;
  using FileCh = char16_t;
  using Alloc = FailingAlloc<NothrowTextAlloc>;
  static constexpr bool kThrows = false;
};

// An ASCII literal in the form's characters (bytes above 0x7F keep their value).
template <class Ch>
std::basic_string<Ch> S(const char* ascii) {
  std::basic_string<Ch> text;
  for (; *ascii != '\0'; ++ascii)
    text.push_back(static_cast<Ch>(static_cast<unsigned char>(*ascii)));
  return text;
}

// A text of either form as printable narrow text; an absent text shows as "(absent)".
template <class Ch>
std::string Show(const Ch* text) {
  if (text == nullptr) return "(absent)";
  std::string shown;
  for (; *text != Ch(0); ++text) {
    const auto unit = static_cast<unsigned long>(static_cast<std::make_unsigned_t<Ch>>(*text));
    shown.push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
  }
  return shown;
}

// One ReadValue with the failAt-th allocation failing: what it reported, whether std::bad_alloc
// came through, and how many allocations it asked for (fewer than failAt: it ran untouched).
struct ReadUnderFailure {
  bool found = false;
  bool thrown = false;
  int calls = 0;
};

template <class Store, class Text>
ReadUnderFailure ReadWithFailureAt(Store& store, int failAt, const Text& section, const Text& key,
                                   Text& value) {
  ReadUnderFailure read;
  ScopedAllocFailure failure(failAt);
  try {
    read.found = store.ReadValue(section, key, value);
  } catch (const std::bad_alloc&) {
    read.thrown = true;
  }
  read.calls = AllocFailure::Calls();
  return read;
}

}  // namespace quillon::test
