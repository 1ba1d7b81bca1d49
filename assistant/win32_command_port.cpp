#include "assistant/win32_command_port.h"

#include <windows.h>
// Built with PSAPI_VERSION 1, so GetModuleFileNameExW is not renamed by a macro.
#include <psapi.h>

#include <algorithm>
#include <array>

#include "host/contract.h"

namespace quillon {
namespace {

class Win32CommandPortImpl final : public CommandPort<wchar_t> {
 public:
  void Quit(int exitCode) override { ::PostQuitMessage(exitCode); }

  void WindowProcessId(WindowId window, std::uint32_t* processId) override {
    DWORD id = *processId;
    ::GetWindowThreadProcessId(reinterpret_cast<HWND>(window), &id);
    *processId = id;
  }

  ProcessHandle OpenForImagePath(std::uint32_t access, bool inherit,
                                 std::uint32_t processId) override {
    return ::OpenProcess(access, inherit ? TRUE : FALSE, processId);
  }

  bool ReadImagePath(ProcessHandle process, wchar_t* buffer, std::uint32_t size) override {
    // A path that does not fit comes back cut and terminated, with a count that does not tell it
    // from one that fits exactly. Read with one unit more: then a count below `size` is a whole
    // path, and one of `size` or more a longer one. (A longer buffer is used up to the reply's.)
    std::array<wchar_t, contract::kMaxPathUnits + 1> read;
    if (size == 0) return false;
    if (size > contract::kMaxPathUnits) size = contract::kMaxPathUnits;
    const DWORD units = ::GetModuleFileNameExW(process, nullptr, read.data(), size + 1);
    if (units == 0 || units >= size) return false;
    std::copy_n(read.data(), units, buffer);
    buffer[units] = L'\0';
    return true;
  }

  bool QueryImagePath(ProcessHandle process, wchar_t* buffer, std::uint32_t size) override {
    // Fails with ERROR_INSUFFICIENT_BUFFER when the path and its terminator do not fit.
    DWORD units = size;
    return ::QueryFullProcessImageNameW(process, 0, buffer, &units) != FALSE && units < size;
  }

  void CloseProcess(ProcessHandle process) override { ::CloseHandle(process); }

  void SendReply(WindowId window, unsigned message, std::uintptr_t wParam,
                 const CopyDataRecord& record) override {
    COPYDATASTRUCT data{record.dwData, record.cbData, const_cast<void*>(record.lpData)};
    // Bounded, so that a reply window whose thread does not take sent messages cannot hold the
    // program (and its watchdog) for ever. SMTO_NORMAL: nested requests are still served while it
    // waits, and no SMTO_ABORTIFHUNG, which would drop the reply at once to a host thread that
    // has waited in its own send for 5 s (for the mutex, say) and so looks hung.
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(reinterpret_cast<HWND>(window), message, wParam,
                          reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, contract::kReplySendLimitMs,
                          &result);
  }
};

}  // namespace

CommandPort<wchar_t>& Win32CommandPort() {
  static Win32CommandPortImpl port;
  return port;
}

}  // namespace quillon
