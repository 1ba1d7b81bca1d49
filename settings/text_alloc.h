// Allocation policies for the text value and the settings store.
//
// A policy is a stateless type with two static functions over raw bytes:
//   static void* Allocate(std::size_t bytes);   // no memory: nullptr, or throws std::bad_alloc
//   static void Release(void* block) noexcept;  // nullptr is allowed
// The narrow form lives inside other people's processes and is built without exceptions, so its
// default policy answers a failed allocation with nullptr. The wide form's default throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace quillon {

// malloc never throws and never aborts: the caller sees nullptr and reports a code.
struct NothrowTextAlloc {
  static void* Allocate(std::size_t bytes) noexcept { return std::malloc(bytes); }
  static void Release(void* block) noexcept { std::free(block); }
};

// operator new reports exhaustion with std::bad_alloc, which the caller lets pass.
struct ThrowingTextAlloc {
  static void* Allocate(std::size_t bytes) { return ::operator new(bytes); }
  static void Release(void* block) noexcept { ::operator delete(block); }
};

template <class Ch>
struct DefaultTextAlloc : ThrowingTextAlloc {};

template <>
struct DefaultTextAlloc<char> : NothrowTextAlloc {};

// Allocates `count` objects' worth of storage for T through the policy. A count whose byte size
// cannot be represented asks the policy for the largest size, which it cannot satisfy either:
// the answer is then the policy's own failure (nullptr or std::bad_alloc).
template <class T, class Alloc>
T* AllocateUnits(std::size_t count) {
  constexpr std::size_t kMaxCount = SIZE_MAX / sizeof(T);
  const std::size_t bytes = count > kMaxCount ? SIZE_MAX : count * sizeof(T);
  return static_cast<T*>(Alloc::Allocate(bytes));
}

// Owns one block from the policy until it is released or handed on.
template <class T, class Alloc>
class PolicyBuffer {
 public:
  PolicyBuffer() = default;
  explicit PolicyBuffer(std::size_t count) : data_(AllocateUnits<T, Alloc>(count)) {}
  PolicyBuffer(const PolicyBuffer&) = delete;
  PolicyBuffer& operator=(const PolicyBuffer&) = delete;
  ~PolicyBuffer() { Alloc::Release(data_); }

  T* get() const noexcept { return data_; }
  explicit operator bool() const noexcept { return data_ != nullptr; }
  T* release() noexcept {
    T* data = data_;
    data_ = nullptr;
    return data;
  }

 private:
  T* data_ = nullptr;
};

}  // namespace quillon
