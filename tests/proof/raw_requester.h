// A requester of Sidecar64's channel with nothing in between: one synchronous WM_NULL, then one
// synchronous WM_COPYDATA carrying "GetPath 0x%08x 0x%08x" (or any text), with the reply window
// owned by this object on the calling thread. Used by the stress tests and the benchmarks, so
// that what they measure is the channel itself and not a client library around it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace quillon::proof {

// What arrived at the reply window during one request.
struct Reply {
  int count = 0;  // replies that arrived during the request (exactly 1 for a GetPath)
  WPARAM wParam = 0;
  ULONG_PTR dwData = 0;
  DWORD cbData = 0;
  std::wstring units;  // the cbData bytes as UTF-16 units, terminator included
};

// The text as a requester writes it: "GetPath 0x%08x 0x%08x".
inline std::wstring GetPathRequest(HWND reply, HWND target) {
  wchar_t text[64];
  std::swprintf(text, 64, L"GetPath 0x%08x 0x%08x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(reply)),
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(target)));
  return text;
}

// A handle value as the reply carries it: the 32 bits of the request, zero-extended.
inline WPARAM RequestValue(HWND window) {
  return static_cast<WPARAM>(reinterpret_cast<std::uintptr_t>(window) & 0xFFFFFFFFu);
}

class RawRequester {
 public:
  RawRequester() {
    static const ATOM atom = [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof(wc);
      wc.lpfnWndProc = &ReplyProc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"QuillonProofReply";
      return RegisterClassExW(&wc);
    }();
    if (atom != 0) {
      window_ = CreateWindowExW(0, L"QuillonProofReply", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                nullptr, GetModuleHandleW(nullptr), this);
    }
  }
  ~RawRequester() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  RawRequester(const RawRequester&) = delete;
  RawRequester& operator=(const RawRequester&) = delete;

  HWND window() const { return window_; }
  // Replies that arrived while no request of ours was running.
  int strayReplies() const { return stray_; }

  // The handshake for one text: false when a send failed (no such window).
  bool Send(HWND assistant, const std::wstring& text, Reply& reply) {
    reply = Reply{};
    current_ = &reply;
    bool ok = SendMessageTimeoutW(assistant, WM_NULL, 0, 0, SMTO_NORMAL, kSendLimitMs, nullptr);
    if (ok) {
      COPYDATASTRUCT record{};
      record.cbData = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
      record.lpData = const_cast<wchar_t*>(text.c_str());
      ok = SendMessageTimeoutW(assistant, WM_COPYDATA, reinterpret_cast<WPARAM>(window_),
                               reinterpret_cast<LPARAM>(&record), SMTO_NORMAL, kSendLimitMs,
                               nullptr) != 0;
    }
    current_ = nullptr;
    return ok;
  }

  bool GetPath(HWND assistant, HWND target, Reply& reply) {
    return Send(assistant, GetPathRequest(window_, target), reply);
  }

 private:
  static constexpr UINT kSendLimitMs = 60000;

  static LRESULT CALLBACK ReplyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == WM_COPYDATA) {
      auto* self = reinterpret_cast<RawRequester*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (self == nullptr || record == nullptr) return FALSE;
      Reply* reply = self->current_;
      if (reply == nullptr) {
        ++self->stray_;
        return TRUE;
      }
      ++reply->count;
      reply->wParam = wParam;
      reply->dwData = record->dwData;
      reply->cbData = record->cbData;
      const auto* units = static_cast<const wchar_t*>(record->lpData);
      reply->units.assign(units != nullptr ? units : L"",
                          units != nullptr ? record->cbData / sizeof(wchar_t) : 0);
      return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  HWND window_ = nullptr;
  Reply* current_ = nullptr;
  int stray_ = 0;
};

// True when `reply` is the one correct answer for `target` whose process runs `path`.
inline bool ReplyIs(const Reply& reply, HWND target, const std::wstring& path) {
  const WPARAM value = RequestValue(target);
  return reply.count == 1 && reply.wParam == value && reply.dwData == value &&
         reply.cbData == (path.size() + 1) * sizeof(wchar_t) && reply.units == path + L'\0';
}

}  // namespace quillon::proof
