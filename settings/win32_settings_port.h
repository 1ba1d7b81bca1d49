// The settings store's operating-system port on Windows: the ANSI calls for char (the hook
// library) and the wide calls for wchar_t (the assistant).
//
// The adapter has no state and a trivial destructor, so the process-wide instance is constant-
// initialised: a settings store that is itself a global of a DLL may use it from its constructor
// whatever the order of dynamic initialisation.
#pragma once

#include <shlobj.h>
#include <shlwapi.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "settings/settings_port.h"

namespace quillon {

template <class Ch>
class Win32SettingsPortImpl final : public SettingsPort<Ch> {
  static_assert(std::is_same_v<Ch, char> || std::is_same_v<Ch, wchar_t>,
                "Windows takes ANSI or UTF-16 text");
  static constexpr bool kAnsi = std::is_same_v<Ch, char>;

 public:
  using typename SettingsPort<Ch>::RegistryKey;

  constexpr Win32SettingsPortImpl() = default;

  bool GetAppDataFolder(Ch* buffer) override {
    HRESULT result;
    if constexpr (kAnsi) {
      result = SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
    } else {
      result = SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
    }
    return result == S_OK;
  }

  bool PathExists(const Ch* path) override {
    if constexpr (kAnsi) {
      return PathFileExistsA(path) != FALSE;
    } else {
      return PathFileExistsW(path) != FALSE;
    }
  }

  void CreateFolder(const Ch* path) override {
    if constexpr (kAnsi) {
      CreateDirectoryA(path, nullptr);
    } else {
      CreateDirectoryW(path, nullptr);
    }
  }

  std::size_t ReadProfileString(const Ch* section, const Ch* key, Ch* buffer, std::size_t size,
                                const Ch* file) override {
    const DWORD room = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
    if constexpr (kAnsi) {
      return GetPrivateProfileStringA(section, key, "", buffer, room, file);
    } else {
      return GetPrivateProfileStringW(section, key, L"", buffer, room, file);
    }
  }

  bool FileBytes(const Ch* path, std::uint64_t& bytes) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    BOOL ok;
    if constexpr (kAnsi) {
      ok = GetFileAttributesExA(path, GetFileExInfoStandard, &data);
    } else {
      ok = GetFileAttributesExW(path, GetFileExInfoStandard, &data);
    }
    if (!ok) return false;
    bytes = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    return true;
  }

  bool OpenKey(const Ch* path, RegistryKey& key) override {
    HKEY opened = nullptr;
    LSTATUS status;
    if constexpr (kAnsi) {
      status = RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &opened);
    } else {
      status = RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &opened);
    }
    if (status != ERROR_SUCCESS) return false;
    key = opened;
    return true;
  }

  bool QueryValue(RegistryKey key, const Ch* name, void* data, std::uint32_t& bytes) override {
    DWORD size = bytes;
    LSTATUS status;
    if constexpr (kAnsi) {
      status = RegQueryValueExA(static_cast<HKEY>(key), name, nullptr, nullptr,
                                static_cast<BYTE*>(data), &size);
    } else {
      status = RegQueryValueExW(static_cast<HKEY>(key), name, nullptr, nullptr,
                                static_cast<BYTE*>(data), &size);
    }
    bytes = size;
    return status == ERROR_SUCCESS;
  }

  void CloseKey(RegistryKey key) override { RegCloseKey(static_cast<HKEY>(key)); }

  // Steps over a lead byte and its trail byte together in a double-byte ANSI code page.
  const Ch* NextChar(const Ch* p) override {
    if constexpr (kAnsi) {
      if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') return p + 2;
    }
    return p + 1;
  }
};

// The process-wide adapter for one character form.
template <class Ch>
SettingsPort<Ch>& Win32SettingsPort() {
  static constinit Win32SettingsPortImpl<Ch> port;
  return port;
}

}  // namespace quillon
