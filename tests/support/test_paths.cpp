#include "tests/support/test_paths.h"

#include <windows.h>

namespace quillon::test {

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::wstring TempFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  if (GetTempPathW(MAX_PATH, temp) == 0) return L"";
  const std::wstring folder = std::wstring(temp) + name + L"\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

std::wstring CopyToTemp(const std::wstring& source, const wchar_t* folder, const wchar_t* name) {
  const std::wstring parent = TempFolder(folder);
  if (parent.empty()) return L"";
  const std::wstring target = parent + name;
  if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) return L"";
  return target;
}

std::wstring WindowsPath(const char* path) {
  std::wstring result;
  if (path[0] == '/') result = L"Z:";
  for (const char* p = path; *p != '\0'; ++p) {
    result += *p == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p));
  }
  return result;
}

}  // namespace quillon::test
