#include "host/client/win32_assistant_port.h"

#include "host/contract.h"

namespace quillon {
namespace {

constexpr wchar_t kReplyClass[] = L"QuillonHostReplyWnd";

HWND AsWindow(WindowId id) { return reinterpret_cast<HWND>(id); }
WindowId AsId(HWND window) { return reinterpret_cast<WindowId>(window); }

bool EnsureReplyClass(WNDPROC procedure) {
  static const bool registered = [procedure] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = procedure;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kReplyClass;
    return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

}  // namespace

Win32AssistantPort::Win32AssistantPort(DWORD timeout_ms) : timeout_ms_(timeout_ms) {
  if (!EnsureReplyClass(&ReplyProc)) return;
  // Hidden, never shown; `this` reaches the procedure through the creation parameter.
  reply_window_.Reset(::CreateWindowExW(0, kReplyClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                        ::GetModuleHandleW(nullptr), this));
}

WindowId Win32AssistantPort::ReplyWindow() const { return AsId(reply_window_.Get()); }

WindowId Win32AssistantPort::FindReceiveWindow() {
  const wchar_t* receive_class = contract::ReceiveClass<wchar_t>;
  HWND candidate = nullptr;
  while ((candidate = ::FindWindowExW(nullptr, candidate, receive_class, nullptr)) != nullptr) {
    // GetWindowTextW reads another process's title without sending it a message, so a hung
    // Sidecar64 cannot block the search.
    wchar_t title[2] = {};
    if (::GetWindowTextW(candidate, title, 2) == 0 && title[0] == L'\0') return AsId(candidate);
  }
  return 0;
}

SendOutcome Win32AssistantPort::Send(HWND receiver, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  ::SetLastError(ERROR_SUCCESS);
  // SMTO_NORMAL: while waiting, this thread still takes sent messages, among them the reply.
  if (::SendMessageTimeoutW(receiver, message, wparam, lparam, SMTO_NORMAL, timeout_ms_, &result) !=
      0) {
    return SendOutcome::kDone;
  }
  const DWORD error = ::GetLastError();
  if (!::IsWindow(receiver) || error == ERROR_INVALID_WINDOW_HANDLE) return SendOutcome::kNoWindow;
  if (error == ERROR_TIMEOUT) return SendOutcome::kTimedOut;
  return SendOutcome::kFailed;
}

SendOutcome Win32AssistantPort::SendNull(WindowId receiver) {
  return Send(AsWindow(receiver), WM_NULL, 0, 0);
}

SendOutcome Win32AssistantPort::SendText(WindowId receiver, std::u16string_view text) {
  COPYDATASTRUCT record{};
  record.dwData = 0;
  record.cbData = static_cast<DWORD>(text.size() * sizeof(char16_t));
  record.lpData = const_cast<char16_t*>(text.data());
  return Send(AsWindow(receiver), WM_COPYDATA, reinterpret_cast<WPARAM>(reply_window_.Get()),
              reinterpret_cast<LPARAM>(&record));
}

LRESULT CALLBACK Win32AssistantPort::ReplyProc(HWND window, UINT message, WPARAM wparam,
                                               LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  } else if (message == WM_COPYDATA) {
    auto* self = reinterpret_cast<Win32AssistantPort*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
    if (self != nullptr && self->sink_ != nullptr && record != nullptr) {
      ReplyRecord reply;
      reply.wParam = static_cast<std::uintptr_t>(wparam);
      reply.dwData = static_cast<std::uintptr_t>(record->dwData);
      reply.cbData = record->cbData;
      reply.data = record->lpData;
      reply.available = record->cbData;  // the system copied exactly cbData bytes
      self->sink_->OnReply(reply);
    }
    return TRUE;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

RequestStatus Win32AssistantClient::GetPath(HWND target, std::wstring& path) {
  PathAnswer answer = client_.GetPath(AsId(target));
  path.assign(answer.path.begin(), answer.path.end());
  return answer.status;
}

}  // namespace quillon
