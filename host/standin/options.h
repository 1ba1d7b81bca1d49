// The stand-in host's command line.
#pragma once

#include <string>
#include <vector>

namespace quillon::standin {

struct Options {
  unsigned seconds = 0;        // 0: run until closed or Ctrl+C
  unsigned scan_ms = 2000;     // how often top-level windows are listed; 0: never
  unsigned timeout_ms = 5000;  // bound of each send to Sidecar64
  std::wstring hook_library;   // default: Tallyhook.dll beside this program
  std::wstring assistant;      // default: Sidecar64.exe beside this program
  std::wstring stop_file;      // when this file appears, the host ends (for scripts)
  // This long after it runs, the host writes the diagnosis (win32_diagnosis.h) to its log once;
  // 0: never.
  unsigned diagnose_after_ms = 0;
  std::wstring error;  // set when the command line is wrong
};

Options ParseOptions(const std::vector<std::wstring>& args);
const wchar_t* Usage();

}  // namespace quillon::standin
