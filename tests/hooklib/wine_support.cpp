#include "tests/hooklib/wine_support.h"

#include <shlobj.h>

#include "host/contract.h"

namespace quillon::test {
namespace {

volatile LONG g_accessViolations = 0;

LONG CALLBACK CountAccessViolation(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) {
    InterlockedIncrement(&g_accessViolations);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

std::wstring SettingsFolder() {
  wchar_t appData[MAX_PATH];
  if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData) != S_OK) {
    return L"";
  }
  std::wstring folder = std::wstring(appData) + L"\\" + contract::Firm<wchar_t>;
  CreateDirectoryW(folder.c_str(), nullptr);
  folder += std::wstring(L"\\") + contract::App<wchar_t>;
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

}  // namespace

AccessViolationGuard::AccessViolationGuard()
    : handler_(AddVectoredExceptionHandler(1, CountAccessViolation)) {}

AccessViolationGuard::~AccessViolationGuard() { RemoveVectoredExceptionHandler(handler_); }

long AccessViolationGuard::count() { return g_accessViolations; }

std::wstring HookSettingsFilePath() {
  return SettingsFolder() + L"\\" + contract::HookSettingsFile<wchar_t>;
}

bool WriteLivenessValue(const std::wstring& text) {
  const std::wstring path = HookSettingsFilePath();
  return WritePrivateProfileStringW(contract::LivenessSection<wchar_t>,
                                    contract::LivenessKey<wchar_t>, text.c_str(),
                                    path.c_str()) != 0;
}

bool WriteLivenessWindow(HWND window) {
  return WriteLivenessValue(
      std::to_wstring(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window))));
}

void RemoveSettingsFile() {
  // Flush the profile cache first, or a later write may resurrect the old content.
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, HookSettingsFilePath().c_str());
  DeleteFileW(HookSettingsFilePath().c_str());
}

std::wstring CopyToTemp(const std::wstring& source, const wchar_t* folder, const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  if (GetTempPathW(MAX_PATH, temp) == 0) return L"";
  std::wstring target = std::wstring(temp) + folder;
  CreateDirectoryW(target.c_str(), nullptr);
  target += std::wstring(L"\\") + name;
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
