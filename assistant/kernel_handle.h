// An owned kernel object handle (mutex, process, event) that is closed with the owner.
#pragma once

#include <windows.h>

#include <utility>

namespace quillon {

class KernelHandle {
 public:
  KernelHandle() noexcept = default;
  explicit KernelHandle(HANDLE handle) noexcept : handle_(handle) {}
  KernelHandle(KernelHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  KernelHandle& operator=(KernelHandle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;
  ~KernelHandle() { Reset(); }

  HANDLE Get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }
  void Reset(HANDLE handle = nullptr) noexcept {
    if (handle_ != nullptr) ::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;  // functions that fail with INVALID_HANDLE_VALUE don't belong here
};

}  // namespace quillon
