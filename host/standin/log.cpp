#include "host/standin/log.h"

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

namespace quillon::standin {

void LogLine(const std::wstring& text) {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  wchar_t stamp[32];
  std::swprintf(stamp, 32, L"%02u:%02u:%02u.%03u  ", now.wHour, now.wMinute, now.wSecond,
                now.wMilliseconds);
  const std::wstring line = stamp + text + L"\n";
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 0) return;
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(), size,
                        nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

std::wstring HandleText(HWND window) {
  wchar_t text[16];
  std::swprintf(text, 16, L"0x%08x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(window)));
  return text;
}

}  // namespace quillon::standin
