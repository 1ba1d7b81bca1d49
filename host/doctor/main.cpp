// QuillonDoctor: why icon tracking works or not on this desktop now, for a host's installer and
// its support. 32-bit, so that it sees the windows and files as Tallyhook sees them. It writes,
// installs and ends nothing, and runs with or without a host.
//
//   QuillonDoctor [--json] [<the host's install folder>]
//
// Prints the verdict first ("icon tracking: working" or "icon tracking: not working: <link>..."),
// then every link; --json prints the same as JSON. Exit code 0 when every link is ok, 1 when one
// is not, 2 for a wrong command line. Without a folder it looks beside itself.
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "host/client/win32_assistant_process.h"
#include "host/client/win32_diagnosis.h"

namespace {

constexpr int kAllOk = 0;
constexpr int kNotOk = 1;
constexpr int kUsage = 2;

void Print(const std::string& utf8, DWORD which = STD_OUTPUT_HANDLE) {
  const HANDLE out = ::GetStdHandle(which);
  DWORD written = 0;
  if (out != nullptr && out != INVALID_HANDLE_VALUE) {
    ::WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  }
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  bool json = false;
  quillon::DiagnoseOptions options;
  for (int i = 1; arguments != nullptr && i < count; ++i) {
    const std::wstring argument = arguments[i];
    if (argument == L"--json") {
      json = true;
    } else if (argument.empty() || argument[0] == L'-' || !options.install_folder.empty()) {
      ::LocalFree(arguments);
      Print("usage: QuillonDoctor [--json] [<the host's install folder>]\n", STD_ERROR_HANDLE);
      return kUsage;
    } else {
      options.install_folder = argument;
      // "C:\Program Files\Quillon\" reaches a program as C:\Program Files\Quillon" (the
      // backslash escapes the closing quote); no folder name holds a quote.
      if (options.install_folder.back() == L'"') options.install_folder.pop_back();
    }
  }
  if (arguments != nullptr) ::LocalFree(arguments);
  if (options.install_folder.empty()) options.install_folder = quillon::ModuleFolder();

  const quillon::Diagnosis diagnosis = quillon::Diagnose(options);
  Print(json ? quillon::FormatJson(diagnosis) : quillon::FormatText(diagnosis));
  return diagnosis.Working() ? kAllOk : kNotOk;
}
