// An in-memory file system for the library's file steps: it holds files the way Windows holds a
// mapped image (renamed freely, never deleted) and fails any step on demand.
#ifndef QUILLON_TESTS_HOST_FAKE_FILES_H
#define QUILLON_TESTS_HOST_FAKE_FILES_H

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/client/library_update.h"

namespace quillon::test {

inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kFileExists = 80;

struct Entry {
  std::string content;
  bool held = false;  // mapped by some process: renamed with the file, blocks its deletion
  bool folder = false;
  bool unreadable = false;  // ReadWhole fails (no read access)
};

inline wchar_t Fold(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

inline bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Paths ignoring ASCII case, as Windows names files.
struct FoldedLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](wchar_t x, wchar_t y) { return Fold(x) < Fold(y); });
  }
};

class FakeFiles final : public FilePort {
 public:
  using Fault =
      std::function<std::optional<FileResult>(const std::wstring& from, const std::wstring& to)>;

  std::map<std::wstring, Entry, FoldedLess> files;
  std::uint64_t next_number = 0x1000;
  Fault copy_fault, rename_fault;
  std::vector<std::wstring> loaded;

  FileKind Inspect(const std::wstring& path) override {
    const auto found = files.find(path);
    if (found == files.end()) return FileKind::kMissing;
    return found->second.folder ? FileKind::kOther : FileKind::kFile;
  }
  FileResult CopyNew(const std::wstring& from, const std::wstring& to) override {
    if (copy_fault) {
      if (auto fault = copy_fault(from, to)) return *fault;
    }
    if (files.count(to) != 0) return {FileOutcome::kExists, kFileExists};
    const auto source = files.find(from);
    if (source == files.end()) return {FileOutcome::kNotFound, 2};
    files[to] = Entry{source->second.content};
    return {};
  }
  FileResult Rename(const std::wstring& from, const std::wstring& to) override {
    if (rename_fault) {
      if (auto fault = rename_fault(from, to)) return *fault;
    }
    if (files.count(to) != 0) return {FileOutcome::kExists, 183};
    const auto source = files.find(from);
    if (source == files.end()) return {FileOutcome::kNotFound, 2};
    files[to] = source->second;
    files.erase(from);
    return {};
  }
  FileResult Delete(const std::wstring& path) override {
    const auto found = files.find(path);
    if (found == files.end()) return {FileOutcome::kNotFound, 2};
    if (found->second.held) return {FileOutcome::kFailed, kAccessDenied};
    files.erase(found);
    return {};
  }
  std::vector<std::wstring> ListFiles(const std::wstring& folder,
                                      const std::wstring& prefix) override {
    std::vector<std::wstring> names;
    for (const auto& [path, entry] : files) {
      if (entry.folder || !StartsWith(path, folder)) continue;
      const std::wstring name = path.substr(folder.size());
      if (name.find(L'\\') != std::wstring::npos || name.size() < prefix.size()) continue;
      bool match = true;  // ignoring ASCII case, as Windows does
      for (std::size_t i = 0; i < prefix.size(); ++i) {
        match = match && Fold(name[i]) == Fold(prefix[i]);
      }
      if (match) names.push_back(name);
    }
    return names;
  }
  std::uint64_t UniqueNumber() override { return next_number++; }
  bool LoadedInThisProcess(const std::wstring& path) override {
    for (const std::wstring& module : loaded) {
      if (module == path) return true;
    }
    return false;
  }
  bool ReadWhole(const std::wstring& path, std::vector<unsigned char>& bytes) override {
    const auto found = files.find(path);
    if (found == files.end() || found->second.folder || found->second.unreadable) return false;
    bytes.assign(found->second.content.begin(), found->second.content.end());
    return true;
  }

  // Paths of the files named "<installed>.old-*" / ".new-*" in the folder.
  std::vector<std::wstring> Named(const std::wstring& installed, const wchar_t* mark) const {
    std::vector<std::wstring> found;
    for (const auto& entry : files) {
      if (StartsWith(entry.first, installed + mark)) found.push_back(entry.first);
    }
    return found;
  }
  std::optional<std::string> Content(const std::wstring& path) const {
    const auto found = files.find(path);
    if (found == files.end()) return std::nullopt;
    return found->second.content;
  }
};

}  // namespace quillon::test

#endif  // QUILLON_TESTS_HOST_FAKE_FILES_H
