// soak_driver: the soak of the whole system under Wine (or Windows), run by scripts/soak.
//   soak_driver --minutes N --seed S --dist <folder> --out <folder> [--stop-file <path>]
// Exit code: 0 nothing lost, 1 something lost, 2 stopped early with nothing lost, 3 the system
// could not be started, 4 a wrong command line.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "tests/soak/soak.h"

namespace {

bool ParseNumber(const wchar_t* text, unsigned long long& value) {
  wchar_t* end = nullptr;
  value = std::wcstoull(text, &end, 10);
  return end != text && *end == L'\0';
}

bool ParseArguments(quillon::soak::SoakConfig& config) {
  int count = 0;
  LPWSTR* args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  bool ok = args != nullptr && count % 2 == 1;
  for (int i = 1; ok && i + 1 < count; i += 2) {
    const std::wstring name = args[i];
    unsigned long long number = 0;
    if (name == L"--minutes") {
      ok = ParseNumber(args[i + 1], number) && number > 0 && number <= 24 * 60;
      config.minutes = static_cast<unsigned>(number);
    } else if (name == L"--seed") {
      ok = ParseNumber(args[i + 1], number);
      config.seed = number;
    } else if (name == L"--dist") {
      config.dist = args[i + 1];
    } else if (name == L"--out") {
      config.out = args[i + 1];
    } else if (name == L"--stop-file") {
      config.stop_file = args[i + 1];
    } else {
      ok = false;
    }
  }
  ::LocalFree(args);
  return ok && !config.dist.empty() && !config.out.empty();
}

}  // namespace

int main() {
  quillon::soak::SoakConfig config;
  if (!ParseArguments(config)) {
    std::fputs(
        "usage: soak_driver --minutes N --seed S --dist <folder> --out <folder> "
        "[--stop-file <path>]\n",
        stderr);
    return 4;
  }
  quillon::soak::Soak soak(config);
  return soak.Run();
}
