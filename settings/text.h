// CText: an owned, zero-terminated text in one buffer of exactly the needed size.
//
// A value is either absent (GetText() == nullptr) or present (possibly ""). Every change
// allocates a fresh buffer; nothing is shared between values. Assign and Append report
// 0 (done), 13 (null source, or the final buffer could not be had: the value is now absent) or
// 14 (Append's temporary could not be had: the value is unchanged). With a throwing policy the
// failure shows as std::bad_alloc instead, and the value is left as the same step would leave it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

#include "settings/text_alloc.h"

namespace quillon {

inline constexpr int kTextOk = 0;
inline constexpr int kTextNoBuffer = 13;     // null source, or the value's buffer failed
inline constexpr int kTextNoTemporary = 14;  // Append's temporary failed; value unchanged

template <class Ch>
constexpr std::size_t TextLength(const Ch* text) noexcept {
  std::size_t length = 0;
  while (text[length] != Ch(0)) ++length;
  return length;
}

template <class Ch>
constexpr void CopyUnits(Ch* to, const Ch* from, std::size_t count) noexcept {
  for (std::size_t i = 0; i < count; ++i) to[i] = from[i];
}

// Exact, unit-by-unit equality; false when either text is null.
template <class Ch>
constexpr bool TextEqual(const Ch* left, const Ch* right) noexcept {
  if (left == nullptr || right == nullptr) return false;
  for (;; ++left, ++right) {
    if (*left != *right) return false;
    if (*left == Ch(0)) return true;
  }
}

template <class Ch, class Alloc = DefaultTextAlloc<Ch>>
class CTextT {
 public:
  using CharType = Ch;

  CTextT() noexcept = default;
  // Implicit on purpose: literals and contract names are passed where a CText is expected.
  CTextT(const Ch* text) { Assign(text); }  // NOLINT(google-explicit-constructor)
  CTextT(const CTextT& other) { Assign(other.text_); }
  ~CTextT() {
    marker_ = 0;
    Alloc::Release(text_);
    text_ = nullptr;
  }

  CTextT& operator=(const Ch* text) {
    Assign(text);
    return *this;
  }
  CTextT& operator=(const CTextT& other) {
    Assign(other.text_);
    return *this;
  }
  CTextT& operator+=(const Ch* text) {
    Append(text);
    return *this;
  }

  const Ch* GetText() const noexcept { return text_; }

  // Exchanges the buffers of two values: lets containers rearrange values without copying text
  // (which could fail). It never leaves one buffer in two places.
  void Swap(CTextT& other) noexcept { std::swap(text_, other.text_); }

  // Replaces the text by a copy of `source`. The old buffer goes first, so a failed allocation
  // leaves the value absent; a source inside the value's own buffer is copied before that.
  int Assign(const Ch* source) {
    if (source == nullptr) return kTextNoBuffer;
    const std::size_t length = TextLength(source);
    Ch* old = text_;
    if (!Owns(source)) {
      text_ = nullptr;
      Alloc::Release(old);
      old = nullptr;
    }
    Ch* fresh = AllocateUnits<Ch, Alloc>(length + 1);
    if (fresh == nullptr) {
      text_ = nullptr;
      Alloc::Release(old);
      return kTextNoBuffer;
    }
    CopyUnits(fresh, source, length + 1);
    text_ = fresh;
    Alloc::Release(old);
    return kTextOk;
  }

  // Appends `source`. The result is first built in a temporary (so a source inside the value's
  // own buffer is read before that buffer goes), then copied into a buffer of its own.
  int Append(const Ch* source) {
    if (source == nullptr) return kTextNoBuffer;
    const std::size_t current = text_ == nullptr ? 0 : TextLength(text_);
    const std::size_t added = TextLength(source);
    const std::size_t total = current + added;
    // A sum that leaves no room for the terminator cannot be allocated: ask for the impossible.
    const std::size_t units = added < SIZE_MAX - current ? total + 1 : SIZE_MAX;
    PolicyBuffer<Ch, Alloc> temporary(units);
    if (!temporary) return kTextNoTemporary;
    if (text_ != nullptr) CopyUnits(temporary.get(), text_, current);
    CopyUnits(temporary.get() + current, source, added);
    temporary.get()[total] = Ch(0);

    Ch* old = text_;
    text_ = nullptr;
    Alloc::Release(old);
    Ch* fresh = AllocateUnits<Ch, Alloc>(units);
    if (fresh == nullptr) return kTextNoBuffer;
    CopyUnits(fresh, temporary.get(), total + 1);
    text_ = fresh;
    return kTextOk;
  }

 private:
  // Whether `p` points into this value's buffer (terminator included).
  bool Owns(const Ch* p) const noexcept {
    if (text_ == nullptr) return false;
    const std::less<const Ch*> before;
    return !before(p, text_) && before(p, text_ + TextLength(text_) + 1);
  }

  Ch* text_ = nullptr;
  std::int32_t marker_ = 1;  // 1 while the value lives; never consulted
};

using CTextA = CTextT<char>;
using CTextW = CTextT<wchar_t>;

}  // namespace quillon
