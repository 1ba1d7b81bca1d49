// A requester of Sidecar64's channel with nothing in between: one synchronous WM_NULL, then one
// synchronous WM_COPYDATA carrying the request text, with a reply window of its own on the
// calling thread. Used by the Wine tests, the stress tests and the benchmarks, so that what they
// measure is the channel itself and not a client library around it; the text of a "GetPath" is
// the client's own (host/client/request_text.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "harness/reply_window.h"
#include "host/client/request_text.h"

namespace quillon::harness {

// "GetPath 0x%08x 0x%08x" (reply window, target window), without its terminator.
inline std::wstring GetPathText(HWND reply, HWND target) {
  const std::u16string text =
      GetPathRequest(reinterpret_cast<WindowId>(reply), reinterpret_cast<WindowId>(target));
  return std::wstring(text.begin(), text.end() - 1);  // the client's text ends with its terminator
}

// A handle value as the reply carries it: the 32 bits of the request, zero-extended.
inline WPARAM RequestValue(HWND window) {
  return static_cast<WPARAM>(reinterpret_cast<std::uintptr_t>(window) & 0xFFFFFFFFu);
}

// What arrived at the reply window during one request: the last reply's fields.
struct Answer : Reply {
  int count = 0;  // replies that arrived during the request (exactly 1 for a GetPath)
};

class RawRequester {
 public:
  static constexpr UINT kDefaultSendLimitMs = 60000;
  explicit RawRequester(UINT sendLimitMs = kDefaultSendLimitMs) : sendLimitMs_(sendLimitMs) {}

  HWND window() const { return replies_.window(); }
  // Where the replies land when the sends below are used one by one.
  ReplyWindow& replyWindow() { return replies_; }
  // Replies that arrived while no request of Send's was running.
  int strayReplies() const { return stray_ + static_cast<int>(replies_.replies().size()); }

  // The single sends: false when one failed (no such window, or it timed out).
  bool SendNull(HWND assistant) const {
    return SendMessageTimeoutW(assistant, WM_NULL, 0, 0, SMTO_NORMAL, sendLimitMs_, nullptr) != 0;
  }
  bool SendData(HWND assistant, const void* data, DWORD bytes) const {
    COPYDATASTRUCT record{0, bytes, const_cast<void*>(data)};
    return SendMessageTimeoutW(assistant, WM_COPYDATA, reinterpret_cast<WPARAM>(window()),
                               reinterpret_cast<LPARAM>(&record), SMTO_NORMAL, sendLimitMs_,
                               nullptr) != 0;
  }
  // The text with its terminator.
  bool SendText(HWND assistant, const std::wstring& text) const {
    return SendData(assistant, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  // The handshake for one text, the replies left in replyWindow().
  bool Request(HWND assistant, const std::wstring& text) const {
    return SendNull(assistant) && SendText(assistant, text);
  }

  // The handshake for one text, and what arrived during it.
  bool Send(HWND assistant, const std::wstring& text, Answer& answer) {
    std::vector<Reply>& replies = replies_.replies();
    stray_ += static_cast<int>(replies.size());
    replies.clear();
    const bool ok = Request(assistant, text);
    answer = Answer{};
    answer.count = static_cast<int>(replies.size());
    if (!replies.empty()) static_cast<Reply&>(answer) = std::move(replies.back());
    replies.clear();
    return ok;
  }

  bool GetPath(HWND assistant, HWND target, Answer& answer) {
    return Send(assistant, GetPathText(window(), target), answer);
  }

 private:
  ReplyWindow replies_;
  UINT sendLimitMs_;
  int stray_ = 0;
};

// True when `answer` is the one correct answer for `target` whose process runs `path`.
inline bool AnswerIs(const Answer& answer, HWND target, const std::wstring& path) {
  const WPARAM value = RequestValue(target);
  return answer.count == 1 && answer.wParam == value && answer.dwData == value &&
         answer.cbData == (path.size() + 1) * sizeof(wchar_t) && answer.units == path + L'\0';
}

}  // namespace quillon::harness
