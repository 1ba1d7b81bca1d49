// The settings store's operating-system port on Windows: the registry's ANSI calls for char (the
// hook library) and its wide calls for wchar_t (the assistant). The settings file is found and
// read through the wide calls in both forms: the per-user folder is named after the user, in any
// script, and the ANSI code page cannot spell every name ("?" takes the place of each letter it
// lacks). The narrow form converts its texts with the ANSI code page at this edge, so that every
// value an ANSI file holds comes back as the file holds it.
//
// The adapter has no state and a trivial destructor, so the process-wide instance is constant-
// initialised: a settings store that is itself a global of a DLL may use it from its constructor
// whatever the order of dynamic initialisation.
#pragma once

#include <shlobj.h>
#include <shlwapi.h>
#include <windows.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "settings/settings.h"
#include "settings/settings_port.h"

namespace quillon {

template <class Ch>
class Win32SettingsPortImpl final : public SettingsPort<Ch, wchar_t> {
  static_assert(std::is_same_v<Ch, char> || std::is_same_v<Ch, wchar_t>,
                "Windows takes ANSI or UTF-16 text");
  static constexpr bool kAnsi = std::is_same_v<Ch, char>;

 public:
  using typename SettingsPort<Ch, wchar_t>::RegistryKey;

  constexpr Win32SettingsPortImpl() = default;

  bool GetAppDataFolder(wchar_t* buffer) override {
    return SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK;
  }

  bool PathExists(const wchar_t* path) override { return PathFileExistsW(path) != FALSE; }

  void CreateFolder(const wchar_t* path) override { CreateDirectoryW(path, nullptr); }

  std::size_t ReadProfileString(const wchar_t* section, const wchar_t* key, wchar_t* buffer,
                                std::size_t size, const wchar_t* file) override {
    const DWORD room = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
    return GetPrivateProfileStringW(section, key, L"", buffer, room, file);
  }

  bool FileBytes(const wchar_t* path, std::uint64_t& bytes) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
    bytes = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    return true;
  }

  // The narrow form's texts to and from UTF-16, with the ANSI code page (the wide form never
  // converts).
  std::size_t ToFileChars(const Ch* text, wchar_t* buffer, std::size_t size) override {
    if constexpr (kAnsi) {
      return Counted(MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, Room(size)));
    } else {
      return 0;
    }
  }
  std::size_t FromFileChars(const wchar_t* text, Ch* buffer, std::size_t size) override {
    if constexpr (kAnsi) {
      return Counted(
          WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, Room(size), nullptr, nullptr));
    } else {
      return 0;
    }
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

  static int Room(std::size_t size) {
    return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
  }
  static std::size_t Counted(int count) { return count > 0 ? static_cast<std::size_t>(count) : 0; }

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
SettingsPort<Ch, wchar_t>& Win32SettingsPort() {
  static constinit Win32SettingsPortImpl<Ch> port;
  return port;
}

// The store that goes with the adapter: text of the form, file calls wide.
template <class Ch>
using Win32Settings = CSettingsT<Ch, DefaultTextAlloc<Ch>, wchar_t>;

}  // namespace quillon
