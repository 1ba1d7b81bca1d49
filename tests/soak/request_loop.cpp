#include "tests/soak/request_loop.h"

#include "host/client/win32_assistant_port.h"
#include "tests/soak/narrow.h"

namespace quillon::soak {
namespace {

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

RequestLoop::RequestLoop(unsigned timeout_ms) : timeout_ms_(timeout_ms) {}

bool RequestLoop::Start() {
  stop_ = false;
  thread_.Reset(::CreateThread(nullptr, 0, &RequestLoop::Main, this, 0, nullptr));
  return static_cast<bool>(thread_);
}

void RequestLoop::Stop() {
  if (!thread_) return;
  stop_ = true;
  ::WaitForSingleObject(thread_.Get(), INFINITE);
  thread_.Reset();
}

void RequestLoop::SetTargets(std::vector<Target> targets) {
  const std::lock_guard<std::mutex> lock(mutex_);
  targets_ = std::move(targets);
}

RequestTally RequestLoop::Tally() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return tally_;
}

DWORD WINAPI RequestLoop::Main(void* self) noexcept {
  static_cast<RequestLoop*>(self)->Loop();
  return 0;
}

void RequestLoop::Loop() {
  // The client belongs to this thread: its reply window is this thread's.
  Win32AssistantClient client(timeout_ms_);
  std::size_t next = 0;
  while (!stop_) {
    Target target;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (!targets_.empty()) target = targets_[next++ % targets_.size()];
    }
    if (target.window != nullptr) {
      std::wstring path;
      in_flight_ = true;
      const ULONGLONG began = ::GetTickCount64();
      const RequestStatus status = client.GetPath(target.window, path);
      const ULONGLONG took = ::GetTickCount64() - began;
      in_flight_ = false;
      Record(status, target, path, took);
    }
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    ::Sleep(kPauseMs);
  }
}

void RequestLoop::Record(RequestStatus status, const Target& target, const std::wstring& path,
                         ULONGLONG took) {
  const std::lock_guard<std::mutex> lock(mutex_);
  RequestTally& t = tally_;
  ++t.total;
  if (took > t.worst_ms) t.worst_ms = static_cast<std::uint32_t>(took);
  if (took > LimitMs()) ++t.over_limit;
  switch (status) {
    case RequestStatus::kResolved:
      if (SamePath(path, target.path)) {
        ++t.right;
        t.last_right_at = ::GetTickCount64();
      } else {
        ++t.wrong;
        if (t.first_wrong.empty()) {
          t.first_wrong = "window " +
                          std::to_string(reinterpret_cast<std::uintptr_t>(target.window)) + ": " +
                          Narrow(path) + " instead of " + Narrow(target.path);
        }
      }
      break;
    case RequestStatus::kNotAvailable:
      ++t.not_available;
      break;
    case RequestStatus::kNoAssistant:
      ++t.no_assistant;
      break;
    case RequestStatus::kAssistantGone:
      ++t.assistant_gone;
      break;
    case RequestStatus::kTimedOut:
      ++t.timed_out;
      break;
    case RequestStatus::kBusy:
      ++t.busy;
      break;
    case RequestStatus::kBadReply:
      ++t.bad_reply;
      break;
    default:
      ++t.other;
      break;
  }
}

}  // namespace quillon::soak
