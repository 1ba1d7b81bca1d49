// One owned window: destroyed with its owner object, never copied.
#pragma once

#include <windows.h>

#include <utility>

namespace quillon::shell {

class UniqueWindow {
 public:
  UniqueWindow() = default;
  explicit UniqueWindow(HWND window) : window_(window) {}
  UniqueWindow(UniqueWindow&& other) noexcept : window_(std::exchange(other.window_, nullptr)) {}
  UniqueWindow& operator=(UniqueWindow&& other) noexcept {
    if (this != &other) reset(std::exchange(other.window_, nullptr));
    return *this;
  }
  UniqueWindow(const UniqueWindow&) = delete;
  UniqueWindow& operator=(const UniqueWindow&) = delete;
  ~UniqueWindow() { reset(); }

  HWND get() const { return window_; }
  explicit operator bool() const { return window_ != nullptr; }
  void reset(HWND window = nullptr) {
    if (window_ != nullptr) DestroyWindow(window_);
    window_ = window;
  }

 private:
  HWND window_ = nullptr;
};

}  // namespace quillon::shell
