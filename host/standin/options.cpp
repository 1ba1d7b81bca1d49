#include "host/standin/options.h"

#include <cwchar>

namespace quillon::standin {
namespace {

bool ParseNumber(const std::wstring& text, unsigned& value) {
  if (text.empty() || text.size() > 9) return false;
  unsigned result = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    result = result * 10 + static_cast<unsigned>(c - L'0');
  }
  value = result;
  return true;
}

}  // namespace

const wchar_t* Usage() {
  return L"usage: QuillonStandin [--seconds N] [--scan-ms N] [--timeout-ms N]\n"
         L"                      [--hook PATH\\Tallyhook.dll] [--assistant PATH\\Sidecar64.exe]\n"
         L"                      [--stop-file PATH] [--diagnose-after-ms N]";
}

Options ParseOptions(const std::vector<std::wstring>& args) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::wstring& name = args[i];
    if (i + 1 >= args.size()) {
      options.error = L"missing value after " + name;
      return options;
    }
    const std::wstring& value = args[++i];
    bool ok = true;
    if (name == L"--seconds") {
      ok = ParseNumber(value, options.seconds);
    } else if (name == L"--scan-ms") {
      ok = ParseNumber(value, options.scan_ms);
    } else if (name == L"--timeout-ms") {
      ok = ParseNumber(value, options.timeout_ms) && options.timeout_ms > 0;
    } else if (name == L"--hook") {
      options.hook_library = value;
    } else if (name == L"--assistant") {
      options.assistant = value;
    } else if (name == L"--stop-file") {
      options.stop_file = value;
    } else if (name == L"--diagnose-after-ms") {
      ok = ParseNumber(value, options.diagnose_after_ms);
    } else {
      options.error = L"unknown option " + name;
      return options;
    }
    if (!ok) {
      options.error.assign(L"bad value for ").append(name).append(L": ").append(value);
      return options;
    }
  }
  return options;
}

}  // namespace quillon::standin
