// QuillonStandin: stands in for the host program so that both companions can be run and watched
// end to end. Console program; one line per event on standard output.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "host/standin/log.h"
#include "host/standin/options.h"
#include "host/standin/standin_host.h"

namespace {

HANDLE g_stopped = nullptr;  // set once the host has taken everything down

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (!quillon::standin::StandinHost::RequestStop()) return FALSE;
  // For a closing console the system ends the process once this returns: give the host a few
  // seconds to send "Exit", remove the hook and clear "Handle".
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    ::WaitForSingleObject(g_stopped, 4000);
  }
  return TRUE;
}

std::vector<std::wstring> Arguments() {
  int count = 0;
  LPWSTR* list = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::wstring> args;
  for (int i = 1; list != nullptr && i < count; ++i) args.emplace_back(list[i]);
  ::LocalFree(list);
  return args;
}

}  // namespace

int main() {
  using namespace quillon::standin;
  const Options options = ParseOptions(Arguments());
  if (!options.error.empty()) {
    LogLine(options.error);
    LogLine(Usage());
    return 2;
  }
  g_stopped = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
  int code = 0;
  {
    StandinHost host(options);
    code = host.Run();
  }
  ::SetEvent(g_stopped);
  return code;
}
