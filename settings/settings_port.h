// What the settings store needs from the operating system, one character form at a time.
// The Win32 adapter (win32_settings_port.h) makes the registry's ANSI calls for char and its
// wide calls for wchar_t, and the file calls in the wide form for both; the tests put fakes
// behind the same interface.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillon {

// The settings file's full path is built in a buffer of this many characters of the file calls
// (FileCh below), terminator included.
inline constexpr std::size_t kSettingsPathChars = 260;

// Ch is the store's text; FileCh the characters of the file calls: the path, the section, the
// key and the value as the private-profile read returns it. They differ where a narrow store
// reads its file through the wide calls, so that a folder named in any script is found (the
// ANSI code page cannot spell every user's name).
template <class Ch, class FileCh = Ch>
class SettingsPort {
 public:
  using RegistryKey = void*;  // an open key below HKEY_CURRENT_USER

  // The per-user application-data folder (SHGetFolderPath, CSIDL_APPDATA, current path) into a
  // buffer of kSettingsPathChars characters. false when the folder cannot be had.
  virtual bool GetAppDataFolder(FileCh* buffer) = 0;
  virtual bool PathExists(const FileCh* path) = 0;
  // Creates one folder with default security; the store does not look at the outcome.
  virtual void CreateFolder(const FileCh* path) = 0;
  // GetPrivateProfileString with the default "": the count of characters copied, terminator not
  // counted; a text that does not fit is cut and the count is size - 1.
  virtual std::size_t ReadProfileString(const FileCh* section, const FileCh* key, FileCh* buffer,
                                        std::size_t size, const FileCh* file) = 0;

  // The size of the file in bytes; false when it cannot be had. No value in a settings file is
  // longer, in characters of either form, than the file is in bytes.
  virtual bool FileBytes(const FileCh* /*path*/, std::uint64_t& /*bytes*/) { return false; }

  // Only where FileCh is not Ch: a zero-terminated text converted into a buffer of `size`
  // characters of the other form (MultiByteToWideChar and back, with the ANSI code page). The
  // count written, terminator included; with size 0 the count needed. 0 when it cannot be done.
  virtual std::size_t ToFileChars(const Ch* /*text*/, FileCh* /*buffer*/, std::size_t /*size*/) {
    return 0;
  }
  virtual std::size_t FromFileChars(const FileCh* /*text*/, Ch* /*buffer*/, std::size_t /*size*/) {
    return 0;
  }

  // RegOpenKeyEx(HKEY_CURRENT_USER, path, 0, KEY_READ). true with an open key on success.
  virtual bool OpenKey(const Ch* path, RegistryKey& key) = 0;
  // RegQueryValueEx without a type: data may be null to learn the size. On entry `bytes` is the
  // room offered, on return the size of the stored data. true on success.
  virtual bool QueryValue(RegistryKey key, const Ch* name, void* data, std::uint32_t& bytes) = 0;
  virtual void CloseKey(RegistryKey key) = 0;

  // The position of the character after the one at `p` (which is not the terminator). Narrow
  // text in a double-byte code page steps over a lead byte and its trail byte together.
  virtual const Ch* NextChar(const Ch* p) { return p + 1; }

 protected:
  // Ports are never destroyed through this interface; a trivial destructor lets the process-wide
  // adapter be constant-initialised.
  constexpr SettingsPort() = default;
  ~SettingsPort() = default;
  SettingsPort(const SettingsPort&) = default;
  SettingsPort& operator=(const SettingsPort&) = default;
};

}  // namespace quillon
