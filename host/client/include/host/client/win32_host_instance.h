// One host per session. A second copy of the host that went on with the start order would write
// its own "Handle" over the first one's, end its Sidecar64 and, at its end, clear "Handle": the
// first host would get no notice from then on. So a host claims the session before it touches
// anything, and one that finds the claim taken leaves everything alone and ends.
//
//   quillon::HostInstance instance = quillon::HostInstance::Claim();
//   if (!instance.Claimed()) {                 // another host runs: touch nothing
//     const quillon::HostHolder other = instance.Holder();
//     if (other.main_window != nullptr) ::SetForegroundWindow(other.main_window);
//     return 0;
//   }
//   ... create the main window ...
//   instance.PublishMainWindow(main_window);
//
// The claim is the ownership of the mutex "Local\QuillonHostInstance" in the session's
// namespace: it ends with the claiming thread, so a killed host leaves no claim behind. Claim,
// keep and destroy the object on the host's main thread, which lives as long as the host. Who
// holds the claim (process id, creation time, main window) is published in the shared memory
// "Local\QuillonHostInstanceInfo", which anyone may read without claiming.
#ifndef QUILLON_HOST_CLIENT_WIN32_HOST_INSTANCE_H
#define QUILLON_HOST_CLIENT_WIN32_HOST_INSTANCE_H

#include <windows.h>

#include <cstdint>
#include <optional>

#include "host/win32_handles.h"

namespace quillon {

inline constexpr wchar_t kHostInstanceMutex[] = L"Local\\QuillonHostInstance";
inline constexpr wchar_t kHostInstanceInfo[] = L"Local\\QuillonHostInstanceInfo";

enum class ClaimStatus {
  kClaimed,        // this host is the only one: go on with the start order
  kHeldByAnother,  // another host holds the claim: leave everything alone
  kFailed,         // the named objects could not be made (the name is taken by another kind of
                   // object, or no access): the session is unknown, so leave everything alone
};

const char* Describe(ClaimStatus status);

// The host that holds the claim, as it published itself.
struct HostHolder {
  DWORD process_id = 0;        // 0 while the holder has not published itself yet
  std::uint64_t created = 0;   // its creation time, in the system's 100-ns units
  HWND main_window = nullptr;  // null until it calls PublishMainWindow
};

class HostInstance {
 public:
  // Claims the session for this process; see Status(). Never waits.
  static HostInstance Claim();

  HostInstance(HostInstance&& other) noexcept;
  HostInstance& operator=(HostInstance&& other) noexcept;
  HostInstance(const HostInstance&) = delete;
  HostInstance& operator=(const HostInstance&) = delete;
  // Gives the claim up (on the thread that claimed it) and withdraws what it published.
  ~HostInstance();

  ClaimStatus Status() const { return status_; }
  bool Claimed() const { return status_ == ClaimStatus::kClaimed; }

  // Makes `main_window` known as the holder's main window; false when this object holds no
  // claim.
  bool PublishMainWindow(HWND main_window);

  // Who holds the claim, read now: this host when Claimed(), else the other one (its process id
  // is 0 in the moment between its claim and its publishing, or when nothing could be read).
  HostHolder Holder() const;

 private:
  HostInstance() = default;
  void Release();

  ClaimStatus status_ = ClaimStatus::kFailed;
  UniqueKernelHandle mutex_;
  UniqueKernelHandle info_;
  void* view_ = nullptr;  // the mapped HostInstanceInfo, writable while Claimed()
};

// Read-only, for tools: the host that holds the claim now, or nothing when no host runs. The
// published process is checked to be alive with the same creation time, so a killed holder
// (whose record stays as long as someone keeps it open) does not count. Claims nothing.
std::optional<HostHolder> FindRunningHost();

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_WIN32_HOST_INSTANCE_H
