#include "tests/support/settings_files.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <shlobj.h>

#include "host/client/win32_liveness.h"
#include "host/contract.h"

namespace quillon::test {
namespace {

bool WriteWholeFile(const std::wstring& path, const std::string& content) {
  // Nothing of the file may stay in the profile cache, or a later profile write there would bring
  // back the old content.
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) != 0 &&
      written == content.size();
  CloseHandle(file);
  return ok;
}

bool ReadWholeFile(const std::wstring& path, std::string& content) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    content.append(buffer, got);
  }
  CloseHandle(file);
  return true;
}

void CreateFolders() {
  CreateDirectoryW(FirmFolder().c_str(), nullptr);
  CreateDirectoryW(AppFolder().c_str(), nullptr);
}

}  // namespace

std::wstring FirmFolder() {
  wchar_t appData[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData);
  return std::wstring(appData) + L"\\" + contract::Firm<wchar_t>;
}

std::wstring AppFolder() { return FirmFolder() + L"\\" + contract::App<wchar_t>; }

std::wstring SettingsFilePath(const wchar_t* fileName) { return AppFolder() + L"\\" + fileName; }

bool WriteSettingsFile(const wchar_t* fileName, std::wstring_view handleText) {
  CreateFolders();
  std::string text = std::string("[") + contract::LivenessSection<char> + "]\r\n" +
                     contract::LivenessKey<char> + "=";
  text.reserve(text.size() + handleText.size() + 2);
  for (const wchar_t c : handleText) text += static_cast<char>(c);
  text += "\r\n";
  return WriteWholeFile(SettingsFilePath(fileName), text);
}

bool WriteHostWindow(const wchar_t* fileName, HWND hostWindow) {
  return WriteSettingsFile(fileName, LivenessText(hostWindow));
}

void RemoveSettingsFile(const wchar_t* fileName) {
  const std::wstring path = SettingsFilePath(fileName);
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());  // flush the cache
  DeleteFileW(path.c_str());
}

bool EmptySettingsFile(const wchar_t* fileName) {
  return WriteWholeFile(SettingsFilePath(fileName), {});
}

void RemoveSettingsFolders() {
  RemoveDirectoryW(AppFolder().c_str());
  RemoveDirectoryW(FirmFolder().c_str());
}

SettingsBackup::SettingsBackup() {
  hook_.existed =
      ReadWholeFile(SettingsFilePath(contract::HookSettingsFile<wchar_t>), hook_.content);
  assistant_.existed =
      ReadWholeFile(SettingsFilePath(contract::AssistantSettingsFile<wchar_t>), assistant_.content);
}

SettingsBackup::~SettingsBackup() {
  const struct {
    const wchar_t* fileName;
    const Kept& kept;
  } files[] = {{contract::HookSettingsFile<wchar_t>, hook_},
               {contract::AssistantSettingsFile<wchar_t>, assistant_}};
  for (const auto& [fileName, kept] : files) {
    if (kept.existed) {
      CreateFolders();
      WriteWholeFile(SettingsFilePath(fileName), kept.content);
    } else {
      RemoveSettingsFile(fileName);
    }
  }
  RemoveSettingsFolders();
}

FirmFolderSetAside::FirmFolderSetAside() : aside_(FirmFolder() + L".aside") {
  RemoveSettingsFolders();
  moved_ = MoveFileW(FirmFolder().c_str(), aside_.c_str()) != 0;
}

FirmFolderSetAside::~FirmFolderSetAside() {
  RemoveSettingsFile(contract::HookSettingsFile<wchar_t>);
  RemoveSettingsFile(contract::AssistantSettingsFile<wchar_t>);
  RemoveSettingsFolders();
  if (moved_) MoveFileW(aside_.c_str(), FirmFolder().c_str());
}

}  // namespace quillon::test
