// A requester's reply window: a hidden window of the calling thread that keeps every WM_COPYDATA
// it receives, exactly as the system handed it over. Shared by the Wine tests and the benchmarks.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quillon::harness {

// One WM_COPYDATA that reached the window.
struct Reply {
  WPARAM wParam = 0;
  ULONG_PTR dwData = 0;
  DWORD cbData = 0;
  std::wstring units;  // the cbData bytes as UTF-16 units, terminator included
};

class ReplyWindow {
 public:
  ReplyWindow() {
    static const ATOM atom = [] {
      WNDCLASSEXW windowClass{};
      windowClass.cbSize = sizeof windowClass;
      windowClass.lpfnWndProc = &ReplyProc;
      windowClass.hInstance = GetModuleHandleW(nullptr);
      windowClass.lpszClassName = kClassName;
      return RegisterClassExW(&windowClass);
    }();
    if (atom != 0) {
      window_ = CreateWindowExW(0, kClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleW(nullptr), this);
    }
  }
  ~ReplyWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  ReplyWindow(const ReplyWindow&) = delete;
  ReplyWindow& operator=(const ReplyWindow&) = delete;

  HWND window() const { return window_; }
  // Every reply since the last clear, in the order of arrival.
  std::vector<Reply>& replies() { return replies_; }
  const std::vector<Reply>& replies() const { return replies_; }
  // Runs once, inside the delivery of the next reply, after it has been kept: while its sender
  // still waits in its send.
  void OnNextReply(std::function<void()> action) { onNextReply_ = std::move(action); }

 private:
  static constexpr wchar_t kClassName[] = L"QuillonHarnessReply";

  static LRESULT CALLBACK ReplyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == WM_COPYDATA) {
      auto* self = reinterpret_cast<ReplyWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (self == nullptr || record == nullptr) return FALSE;
      const auto* units = static_cast<const wchar_t*>(record->lpData);
      self->replies_.push_back(
          {wParam, record->dwData, record->cbData,
           units != nullptr ? std::wstring(units, record->cbData / sizeof(wchar_t)) : L""});
      if (self->onNextReply_) std::exchange(self->onNextReply_, nullptr)();
      return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  HWND window_ = nullptr;
  std::vector<Reply> replies_;
  std::function<void()> onNextReply_;
};

}  // namespace quillon::harness
