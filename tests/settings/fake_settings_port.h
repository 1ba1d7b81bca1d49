// A settings port in memory that behaves like the Windows calls the store relies on: the
// private-profile read cuts at size - 1, the registry query reports ERROR_MORE_DATA as a failure
// with the needed size, and every call is recorded. With file characters of their own (FileCh),
// its conversion takes each narrow byte for the unit of the same number and back, and writes
// '?' for a unit no byte spells, as an ANSI code page does for letters it lacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "settings/settings_port.h"

namespace quillon::test {

template <class Ch, class FileCh = Ch>
class FakeSettingsPort final : public SettingsPort<Ch, FileCh> {
 public:
  using String = std::basic_string<Ch>;
  using FileString = std::basic_string<FileCh>;
  using typename SettingsPort<Ch, FileCh>::RegistryKey;

  // File system.
  bool appDataAvailable = true;
  FileString appData;
  std::set<FileString> folders;     // folders that exist
  std::vector<FileString> created;  // CreateFolder calls, in order
  // (file, section, key) -> value
  std::map<std::tuple<FileString, FileString, FileString>, FileString> profile;
  std::vector<std::size_t> offeredSizes;   // buffer sizes of the profile reads, in order
  std::vector<FileString> readFiles;       // file paths of the profile reads
  std::optional<std::uint64_t> fileBytes;  // what FileBytes reports; unknown when empty

  // Registry: path -> value name -> stored bytes.
  std::map<String, std::map<String, std::vector<std::uint8_t>>> registry;
  std::vector<String> openedPaths;
  int openKeys = 0;
  int queries = 0;
  std::function<void()> afterSizeQuery;  // runs after a query without a data buffer

  // Narrow text: bytes that lead a double-byte character (none: a single-byte code page).
  std::set<unsigned char> leadBytes;

  bool GetAppDataFolder(FileCh* buffer) override {
    if (!appDataAvailable) return false;
    std::size_t i = 0;
    for (; i < appData.size() && i + 1 < kSettingsPathChars; ++i) buffer[i] = appData[i];
    buffer[i] = FileCh(0);
    return true;
  }
  bool PathExists(const FileCh* path) override { return folders.count(FileString(path)) != 0; }
  void CreateFolder(const FileCh* path) override {
    created.emplace_back(path);
    folders.emplace(path);
  }
  std::size_t ReadProfileString(const FileCh* section, const FileCh* key, FileCh* buffer,
                                std::size_t size, const FileCh* file) override {
    offeredSizes.push_back(size);
    readFiles.emplace_back(file);
    const auto found = profile.find({FileString(file), FileString(section), FileString(key)});
    const FileString value = found == profile.end() ? FileString() : found->second;
    const std::size_t count = value.size() < size - 1 ? value.size() : size - 1;
    for (std::size_t i = 0; i < count; ++i) buffer[i] = value[i];
    buffer[count] = FileCh(0);
    return count;
  }

  std::size_t ToFileChars(const Ch* text, FileCh* buffer, std::size_t size) override {
    return Convert(text, buffer, size,
                   [](Ch unit) { return static_cast<FileCh>(static_cast<unsigned char>(unit)); });
  }
  std::size_t FromFileChars(const FileCh* text, Ch* buffer, std::size_t size) override {
    return Convert(text, buffer, size, [](FileCh unit) {
      const auto number = static_cast<unsigned long>(unit);
      return static_cast<Ch>(number < 0x100 ? number : '?');
    });
  }

  bool FileBytes(const FileCh*, std::uint64_t& bytes) override {
    if (!fileBytes) return false;
    bytes = *fileBytes;
    return true;
  }

  bool OpenKey(const Ch* path, RegistryKey& key) override {
    openedPaths.emplace_back(path);
    const auto found = registry.find(String(path));
    if (found == registry.end()) return false;
    ++openKeys;
    key = &found->second;
    return true;
  }
  bool QueryValue(RegistryKey key, const Ch* name, void* data, std::uint32_t& bytes) override {
    ++queries;
    auto& values = *static_cast<std::map<String, std::vector<std::uint8_t>>*>(key);
    const auto found = values.find(String(name));
    if (found == values.end()) return false;
    const auto stored = static_cast<std::uint32_t>(found->second.size());
    if (data == nullptr) {
      bytes = stored;
      if (afterSizeQuery) afterSizeQuery();
      return true;
    }
    const bool fits = stored <= bytes;
    if (fits && stored != 0) std::memcpy(data, found->second.data(), stored);
    bytes = stored;
    return fits;
  }
  void CloseKey(RegistryKey) override { --openKeys; }

  const Ch* NextChar(const Ch* p) override {
    const bool lead = leadBytes.count(static_cast<unsigned char>(*p)) != 0;
    return lead && p[1] != Ch(0) ? p + 2 : p + 1;
  }

 private:
  // One unit for one unit, terminator included; with size 0 the count needed, and 0 when the
  // buffer is too small (as the Windows conversions answer).
  template <class From, class To, class Unit>
  static std::size_t Convert(const From* text, To* buffer, std::size_t size, Unit unit) {
    std::size_t length = 0;
    while (text[length] != From(0)) ++length;
    if (size == 0) return length + 1;
    if (size < length + 1) return 0;
    for (std::size_t i = 0; i < length; ++i) buffer[i] = unit(text[i]);
    buffer[length] = To(0);
    return length + 1;
  }
};

// Stored registry bytes for a text of the form's characters, with or without the terminator.
template <class Ch>
std::vector<std::uint8_t> TextBytes(const std::basic_string<Ch>& text, bool terminated) {
  std::vector<std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                  reinterpret_cast<const std::uint8_t*>(text.c_str()) +
                                      (text.size() + (terminated ? 1 : 0)) * sizeof(Ch));
  return bytes;
}

}  // namespace quillon::test
