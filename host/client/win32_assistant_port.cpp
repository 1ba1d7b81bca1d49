#include "host/client/win32_assistant_port.h"

#include <atomic>
#include <memory>

#include "host/contract.h"

namespace quillon {
namespace {

constexpr wchar_t kReplyClass[] = L"QuillonHostReplyWnd";
// Long enough to mean "as long as it takes"; SendMessageTimeout (unlike SendMessage) tells a
// processed message from a failed send.
constexpr UINT kNoTimeLimit = 0x7FFFFFFF;

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

class BlockingSender final : public HandshakeSender {
 public:
  explicit BlockingSender(HWND reply_window) : reply_window_(reply_window) {}

  SendOutcome SendNull(WindowId receiver) override {
    return Send(AsWindow(receiver), WM_NULL, 0, 0);
  }
  SendOutcome SendText(WindowId receiver, std::u16string_view text) override {
    COPYDATASTRUCT record{};
    record.cbData = static_cast<DWORD>(text.size() * sizeof(char16_t));
    record.lpData = const_cast<char16_t*>(text.data());
    return Send(AsWindow(receiver), WM_COPYDATA, reinterpret_cast<WPARAM>(reply_window_),
                reinterpret_cast<LPARAM>(&record));
  }

 private:
  static SendOutcome Send(HWND receiver, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    if (::SendMessageTimeoutW(receiver, message, wparam, lparam, SMTO_NORMAL, kNoTimeLimit,
                              &result) != 0) {
      return SendOutcome::kDone;
    }
    return ::IsWindow(receiver) ? SendOutcome::kFailed : SendOutcome::kNoWindow;
  }

  HWND reply_window_;
};

}  // namespace

struct Win32AssistantPort::Handshake {
  HWND receiver = nullptr;
  HWND reply_window = nullptr;
  std::u16string text;
  UniqueKernelHandle finished;
  std::atomic<SendOutcome> outcome{SendOutcome::kFailed};
};

Win32AssistantPort::Win32AssistantPort() : owner_thread_(::GetCurrentThreadId()) {
  if (!EnsureReplyClass(&ReplyProc)) return;
  // Hidden, never shown. `this` is attached only once the window exists: a WM_NCCREATE that
  // another process sends to a live window carries that process's creation parameter.
  reply_window_.Reset(::CreateWindowExW(0, kReplyClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                        ::GetModuleHandleW(nullptr), nullptr));
  if (reply_window_) {
    ::SetWindowLongPtrW(reply_window_.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
}

Win32AssistantPort::Win32AssistantPort(const AssistantProcess& assistant) : Win32AssistantPort() {
  assistant_ = &assistant;
}

Win32AssistantPort::Win32AssistantPort(AssistantProcessId assistant) : Win32AssistantPort() {
  assistant_id_ = assistant.value;
}

// A handshake still running keeps its own data; it ends when Sidecar64 answers or ends.
Win32AssistantPort::~Win32AssistantPort() = default;

WindowId Win32AssistantPort::ReplyWindow() const { return AsId(reply_window_.Get()); }

bool Win32AssistantPort::OnOwnerThread() const { return ::GetCurrentThreadId() == owner_thread_; }

bool Win32AssistantPort::IsWindow(WindowId target) const {
  return target != 0 && ::IsWindow(AsWindow(target)) != FALSE;
}

WindowId Win32AssistantPort::FindReceiveWindow() {
  if (assistant_ != nullptr) {
    return assistant_->Running() ? AsId(FindReceiveWindowOf(assistant_->ProcessId())) : 0;
  }
  if (assistant_id_ != 0) return AsId(FindReceiveWindowOf(assistant_id_));
  return AsId(NextReceiveWindow(nullptr));
}

bool Win32AssistantPort::BeginHandshake(WindowId receiver, std::u16string text) {
  auto handshake = std::make_shared<Handshake>();
  handshake->receiver = AsWindow(receiver);
  handshake->reply_window = reply_window_.Get();
  handshake->text = std::move(text);
  handshake->finished.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!handshake->finished) return false;
  // A thread of the system's rather than std::thread, which some MinGW thread models lack. The
  // thread owns its share of the handshake from the moment it starts.
  auto share = std::make_unique<std::shared_ptr<Handshake>>(handshake);
  UniqueKernelHandle thread(
      ::CreateThread(nullptr, 0, &RunHandshakeThread, share.get(), 0, nullptr));
  if (!thread) return false;
  share.release();
  current_ = std::move(handshake);
  return true;
}

DWORD WINAPI Win32AssistantPort::RunHandshakeThread(void* parameter) noexcept {
  const std::unique_ptr<std::shared_ptr<Handshake>> share(
      static_cast<std::shared_ptr<Handshake>*>(parameter));
  Handshake& handshake = **share;
  BlockingSender sender(handshake.reply_window);
  handshake.outcome = RunHandshake(sender, AsId(handshake.receiver), handshake.text);
  ::SetEvent(handshake.finished.Get());
  return 0;
}

std::optional<SendOutcome> Win32AssistantPort::AwaitHandshake(unsigned timeout_ms) {
  if (!current_) return SendOutcome::kFailed;
  const HANDLE finished = current_->finished.Get();
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    // Wake for sent messages too: the reply is one, sent while the handshake waits for it.
    const DWORD woke = ::MsgWaitForMultipleObjectsEx(1, &finished, left, QS_SENDMESSAGE, 0);
    if (woke == WAIT_OBJECT_0) return current_->outcome.load();
    if (woke == WAIT_OBJECT_0 + 1) {
      MSG msg;
      ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
      continue;
    }
    if (woke == WAIT_TIMEOUT) return std::nullopt;
    return SendOutcome::kFailed;
  }
}

LRESULT CALLBACK Win32AssistantPort::ReplyProc(HWND window, UINT message, WPARAM wparam,
                                               LPARAM lparam) noexcept {
  if (message != WM_COPYDATA) return ::DefWindowProcW(window, message, wparam, lparam);
  // No exception may unwind through the system's frames: a reply whose check ran out of memory
  // is dropped, and the request ends without it.
  try {
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
  } catch (...) {
  }
  return TRUE;
}

RequestStatus Win32AssistantClient::GetPath(HWND target, std::wstring& path) {
  PathAnswer answer = client_.GetPath(AsId(target));
  path.assign(answer.path.begin(), answer.path.end());
  return answer.status;
}

}  // namespace quillon
