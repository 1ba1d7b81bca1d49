#include "assistant/win32_command_port.h"

#include <windows.h>
// Built with PSAPI_VERSION 1, so GetModuleFileNameExW is not renamed by a macro.
#include <psapi.h>

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

  void ReadImagePath(ProcessHandle process, wchar_t* buffer, std::uint32_t size) override {
    ::GetModuleFileNameExW(process, nullptr, buffer, size);
  }

  void CloseProcess(ProcessHandle process) override { ::CloseHandle(process); }

  void SendReply(WindowId window, unsigned message, std::uintptr_t wParam,
                 const CopyDataRecord& record) override {
    COPYDATASTRUCT data{record.dwData, record.cbData, const_cast<void*>(record.lpData)};
    ::SendMessageW(reinterpret_cast<HWND>(window), message, wParam,
                   reinterpret_cast<LPARAM>(&data));
  }
};

}  // namespace

CommandPort<wchar_t>& Win32CommandPort() {
  static Win32CommandPortImpl port;
  return port;
}

}  // namespace quillon
