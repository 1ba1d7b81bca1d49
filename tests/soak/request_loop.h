// GetPath requests for every window the soak knows, one after another on a thread of its own,
// through the host's own client, for as long as the soak runs. Each answer is checked against
// the program the soak started behind that window; each request is timed.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "host/client/assistant_client.h"
#include "host/win32_handles.h"

namespace quillon::soak {

struct Target {
  HWND window = nullptr;
  std::wstring path;  // the image path Sidecar64 must give for it
};

struct RequestTally {
  std::uint64_t total = 0;
  std::uint64_t right = 0;
  std::uint64_t wrong = 0;  // a path, but not the window's
  std::uint64_t not_available = 0;
  std::uint64_t no_assistant = 0;
  std::uint64_t assistant_gone = 0;
  std::uint64_t timed_out = 0;
  std::uint64_t busy = 0;
  std::uint64_t bad_reply = 0;   // only replies that failed the client's checks
  std::uint64_t other = 0;       // no reply, or a send that failed
  std::uint64_t over_limit = 0;  // took longer than the client's bound and a margin
  std::uint32_t worst_ms = 0;
  ULONGLONG last_right_at = 0;  // GetTickCount64 of the latest right answer
  std::string first_wrong;      // what the first wrong answer was, for the report
};

class RequestLoop {
 public:
  explicit RequestLoop(unsigned timeout_ms);
  ~RequestLoop() { Stop(); }
  RequestLoop(const RequestLoop&) = delete;
  RequestLoop& operator=(const RequestLoop&) = delete;

  bool Start();
  void Stop();
  void SetTargets(std::vector<Target> targets);
  // True while a request is under way (the soak kills Sidecar64 in the middle of one).
  bool InFlight() const { return in_flight_.load(); }
  RequestTally Tally() const;
  unsigned LimitMs() const { return timeout_ms_ + kMarginMs; }

 private:
  static constexpr unsigned kMarginMs = 2000;  // thread switches on a loaded machine
  static constexpr DWORD kPauseMs = 40;        // between two requests: leaves the CPU to others
  static DWORD WINAPI Main(void* self) noexcept;
  void Loop();
  void Record(RequestStatus status, const Target& target, const std::wstring& path, ULONGLONG took);

  unsigned timeout_ms_;
  UniqueKernelHandle thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> in_flight_{false};
  mutable std::mutex mutex_;
  std::vector<Target> targets_;
  RequestTally tally_;
};

}  // namespace quillon::soak
