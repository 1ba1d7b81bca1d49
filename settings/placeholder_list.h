// The settings store's ordered (pattern, replacement) pairs: a small growable array whose memory
// comes from the text's allocation policy, so that the narrow form never throws or aborts.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

#include "settings/text.h"

namespace quillon {

template <class Text>
struct CPlaceholder {
  Text pattern;
  Text replacement;
};

template <class Ch, class Alloc>
class PlaceholderList {
 public:
  using Text = CTextT<Ch, Alloc>;
  using Pair = CPlaceholder<Text>;

  PlaceholderList() = default;
  PlaceholderList(const PlaceholderList&) = delete;
  PlaceholderList& operator=(const PlaceholderList&) = delete;
  ~PlaceholderList() {
    while (count_ > 0) PopBack();
    Alloc::Release(pairs_);
  }

  std::size_t size() const noexcept { return count_; }
  const Pair& operator[](std::size_t index) const noexcept { return pairs_[index]; }
  const Pair* begin() const noexcept { return pairs_; }
  const Pair* end() const noexcept { return pairs_ + count_; }

  // Appends `pair`, taking its texts over (they are swapped in, which cannot fail). false, with
  // the list and `pair` unchanged, when there is no room and memory runs out.
  bool PushBack(Pair& pair) {
    if (count_ == capacity_ && !Grow()) return false;
    Pair* slot = ::new (static_cast<void*>(pairs_ + count_)) Pair{};
    slot->pattern.Swap(pair.pattern);
    slot->replacement.Swap(pair.replacement);
    ++count_;
    return true;
  }

  // Removes the first pair whose pattern equals `pattern`; later pairs keep their order.
  bool RemoveFirst(const Ch* pattern) {
    for (std::size_t i = 0; i < count_; ++i) {
      if (!TextEqual(pairs_[i].pattern.GetText(), pattern)) continue;
      for (std::size_t j = i; j + 1 < count_; ++j) {
        pairs_[j].pattern.Swap(pairs_[j + 1].pattern);
        pairs_[j].replacement.Swap(pairs_[j + 1].replacement);
      }
      PopBack();
      return true;
    }
    return false;
  }

 private:
  void PopBack() noexcept {
    --count_;
    pairs_[count_].~Pair();
  }

  // Doubles the room; the texts change hands by swapping their buffers, which cannot fail.
  bool Grow() {
    const std::size_t capacity = capacity_ == 0 ? 4 : capacity_ * 2;
    Pair* grown = AllocateUnits<Pair, Alloc>(capacity);
    if (grown == nullptr) return false;
    for (std::size_t i = 0; i < count_; ++i) {
      Pair* moved = ::new (static_cast<void*>(grown + i)) Pair{};
      moved->pattern.Swap(pairs_[i].pattern);
      moved->replacement.Swap(pairs_[i].replacement);
      pairs_[i].~Pair();
    }
    Alloc::Release(pairs_);
    pairs_ = grown;
    capacity_ = capacity;
    return true;
  }

  Pair* pairs_ = nullptr;
  std::size_t count_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace quillon
