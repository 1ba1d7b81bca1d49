// The platform operations that the command interpreter needs, behind an interface so that the
// interpreter runs against a fake in tests and against Win32 in Sidecar64.
#pragma once

#include <cstdint>

#include "host/contract.h"

namespace quillon {

using ProcessHandle = void*;  // null when a process could not be opened

// The reply Sidecar64 sends: the same fields, in the same order, as the platform's
// COPYDATASTRUCT. (The host side's record of a reply it received is host/client's ReplyRecord.)
struct CopyDataRecord {
  std::uintptr_t dwData;
  std::uint32_t cbData;
  const void* lpData;
};

inline constexpr unsigned kCopyDataMessage = 0x004A;         // WM_COPYDATA
inline constexpr std::uint32_t kQueryAndReadAccess = 0x410;  // PROCESS_QUERY_INFORMATION | VM_READ
// PROCESS_QUERY_LIMITED_INFORMATION: what Windows still grants a normal process on an elevated one.
inline constexpr std::uint32_t kQueryLimitedAccess = 0x1000;

template <class Ch>
class CommandPort {
 public:
  virtual ~CommandPort() = default;

  // Ends the program's message loop with `exitCode` (PostQuitMessage).
  virtual void Quit(int exitCode) = 0;
  // The id of the process that owns `window` (GetWindowThreadProcessId); leaves *processId
  // unchanged when `window` is no window.
  virtual void WindowProcessId(WindowId window, std::uint32_t* processId) = 0;
  // Opens the process with `access` so that its image path can be read (OpenProcess).
  virtual ProcessHandle OpenForImagePath(std::uint32_t access, bool inherit,
                                         std::uint32_t processId) = 0;
  // Writes the main module's path with its terminator into `buffer` (`size` units) of a process
  // opened with kQueryAndReadAccess (GetModuleFileNameExW). True only when the whole path fits:
  // a path that cannot be read, or one that does not fit whole, gives false.
  virtual bool ReadImagePath(ProcessHandle process, Ch* buffer, std::uint32_t size) = 0;
  // The same for a process opened with kQueryLimitedAccess only (QueryFullProcessImageNameW).
  virtual bool QueryImagePath(ProcessHandle process, Ch* buffer, std::uint32_t size) = 0;
  virtual void CloseProcess(ProcessHandle process) = 0;
  // Sends the reply and waits until the receiver has processed it, or for at most
  // contract::kReplySendLimitMs (SendMessageTimeoutW); then the reply is given up.
  virtual void SendReply(WindowId window, unsigned message, std::uintptr_t wParam,
                         const CopyDataRecord& record) = 0;
};

}  // namespace quillon
