// The platform operations that the command interpreter needs, behind an interface so that the
// interpreter runs against a fake in tests and against Win32 in Sidecar64.
#pragma once

#include <cstdint>

namespace quillon {

using WindowValue = std::uintptr_t;  // a window handle as a number
using ProcessHandle = void*;         // null when a process could not be opened

// Same fields, in the same order, as the platform's COPYDATASTRUCT.
struct ReplyRecord {
  std::uintptr_t dwData;
  std::uint32_t cbData;
  const void* lpData;
};

inline constexpr unsigned kCopyDataMessage = 0x004A;         // WM_COPYDATA
inline constexpr std::uint32_t kQueryAndReadAccess = 0x410;  // PROCESS_QUERY_INFORMATION | VM_READ

template <class Ch>
class CommandPort {
 public:
  virtual ~CommandPort() = default;

  virtual void PostQuitMessage(int exitCode) = 0;
  // Leaves *processId unchanged when `window` is no window.
  virtual void GetWindowThreadProcessId(WindowValue window, std::uint32_t* processId) = 0;
  virtual ProcessHandle OpenProcess(std::uint32_t access, bool inherit,
                                    std::uint32_t processId) = 0;
  // Writes the main module's path into `buffer` (`size` units); the result is not used.
  virtual void GetModuleFileNameExW(ProcessHandle process, Ch* buffer, std::uint32_t size) = 0;
  virtual void CloseHandle(ProcessHandle process) = 0;
  // Sends synchronously; returns once the receiver has processed the message.
  virtual void SendMessageW(WindowValue window, unsigned message, std::uintptr_t wParam,
                            const ReplyRecord& record) = 0;
};

}  // namespace quillon
