#include "host/client/win32_liveness.h"

#include <shlobj.h>

#include <cstdint>

#include "host/contract.h"

namespace quillon {
namespace {

bool EnsureFolder(const std::wstring& path) {
  return ::CreateDirectoryW(path.c_str(), nullptr) != 0 || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

bool WriteBoth(const wchar_t* value) {
  bool ok = true;
  for (const wchar_t* file :
       {contract::HookSettingsFile<wchar_t>, contract::AssistantSettingsFile<wchar_t>}) {
    const std::wstring path = HostSettingsPath(file);
    ok = !path.empty() &&
         ::WritePrivateProfileStringW(contract::LivenessSection<wchar_t>,
                                      contract::LivenessKey<wchar_t>, value, path.c_str()) &&
         ok;
  }
  return ok;
}

}  // namespace

std::wstring HostSettingsPath(const wchar_t* file_name) {
  wchar_t base[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base))) {
    return {};
  }
  std::wstring path = base;
  path += L'\\';
  path += contract::Firm<wchar_t>;
  if (!EnsureFolder(path)) return {};
  path += L'\\';
  path += contract::App<wchar_t>;
  if (!EnsureFolder(path)) return {};
  path += L'\\';
  path += file_name;
  return path;
}

std::wstring LivenessText(HWND main_window) {
  // Handles are 32-bit significant; the readers parse a signed 32-bit decimal and widen it by
  // sign extension (Sidecar64) or keep the 32 bits (the hook library).
  const auto value = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(main_window));
  return std::to_wstring(value);
}

bool WriteLivenessValue(HWND main_window) { return WriteBoth(LivenessText(main_window).c_str()); }

bool ClearLivenessValue() { return WriteBoth(L""); }

}  // namespace quillon
