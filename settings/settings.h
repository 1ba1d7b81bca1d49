// CSettings: reads single named values out of the host's per-user configuration, either from the
// registry (below HKEY_CURRENT_USER) or from a private-profile settings file kept in
// <application data>\<firm>\<app>\<file name>.
//
// A value is addressed by a key path: the base key followed by a section, with every placeholder
// pattern replaced. The store keeps nothing open between reads; every read rebuilds its paths
// and buffers. It is read-only: a file read creates the firm and application folders when they
// are missing, and that is its only side effect.
//
// Memory: the narrow form (built without exceptions) ends a read as not found when one of its
// buffers cannot be had; the wide form lets std::bad_alloc reach the caller.
//
// The file calls may use other characters than the store's text (FileCh, settings_port.h): the
// narrow store on Windows builds its path and reads its file in UTF-16, converting the firm,
// application and file names, the section and the key on the way in and the value on the way
// out, so that it finds its file under any user name and returns every value of an ANSI file as
// that file holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "host/contract.h"
#include "settings/placeholder_list.h"
#include "settings/settings_port.h"
#include "settings/text.h"

namespace quillon {

// What building the settings file's full path came to.
enum class FilePathResult {
  kBuilt,        // the path is in the buffer
  kUnavailable,  // no application-data folder (or no file name set): nothing was done
  kTooLong,      // the path would not fit the buffer: nothing was created or written
};

template <class Ch, class Alloc = DefaultTextAlloc<Ch>, class FileCh = Ch>
class CSettingsT {
 public:
  using Text = CTextT<Ch, Alloc>;
  using Port = SettingsPort<Ch, FileCh>;
  using Placeholders = PlaceholderList<Ch, Alloc>;

  // Room for a settings-file value before the first read. Every read costs what the whole file
  // costs, so a value that was cut is read again at once with room for the whole file, which
  // no value in it can exceed; where the file's size cannot be had, the room doubles. Either
  // way a long value takes a handful of reads, not one per 256 characters (a million digits
  // would take 4000).
  static constexpr std::size_t kFirstReadChars = 768;

  CSettingsT(bool useRegistry, const Text& firm, const Text& app, Port& port)
      : useRegistry_(useRegistry), firm_(firm), app_(app), port_(&port) {
    baseKey_ = contract::SettingsBaseKey<Ch>;
    AddPlaceholder(contract::FirmPlaceholder<Ch>, firm);
    AddPlaceholder(contract::AppPlaceholder<Ch>, app);
  }
  CSettingsT(const CSettingsT&) = delete;
  CSettingsT& operator=(const CSettingsT&) = delete;

  void SetBaseKey(const Text& baseKey) { baseKey_ = baseKey; }
  void SetFileName(const Text& fileName) { fileName_ = fileName; }

  // Removes an earlier pair with an equal pattern, then appends the new pair at the end. The
  // copies are made first, so that a failed allocation leaves the list as it was (false in the
  // narrow form, std::bad_alloc in the wide form). An empty pattern would match everywhere
  // without ever advancing, so it is refused (false). An absent replacement counts as "".
  bool AddPlaceholder(const Text& pattern, const Text& replacement) {
    typename Placeholders::Pair pair;
    if (pair.pattern.Assign(pattern.GetText()) != kTextOk) return false;
    if (*pair.pattern.GetText() == Ch(0)) return false;
    const Ch* text = replacement.GetText() != nullptr ? replacement.GetText() : EmptyText();
    if (pair.replacement.Assign(text) != kTextOk) return false;
    // With a pair removed there is room again: the push below cannot fail after the removal.
    placeholders_.RemoveFirst(pair.pattern.GetText());
    return placeholders_.PushBack(pair);
  }

  // Removes the first pair whose pattern equals `pattern` exactly.
  bool RemovePlaceholder(const Text& pattern) {
    return placeholders_.RemoveFirst(pattern.GetText());
  }

  const Placeholders& GetPlaceholders() const noexcept { return placeholders_; }

  // Applies the pairs in list order; each pair replaces its pattern left to right without
  // overlaps, and later pairs scan what earlier replacements produced. The result is absent when
  // `path` is absent or memory ran out.
  Text ExpandPath(const Text& path) const {
    Text work(path);
    if (work.GetText() == nullptr) return work;
    for (const auto& pair : placeholders_) {
      if (!ReplaceAll(work, pair.pattern.GetText(), pair.replacement.GetText())) return Text();
    }
    return work;
  }

  // Reads `key` in the section `section` (appended to the base key without a separator).
  bool ReadValue(const Text& section, const Text& key, Text& value) const {
    Text path;
    if (!AppendPresent(path, baseKey_.GetText()) || !AppendPresent(path, section.GetText())) {
      return false;
    }
    if (path.GetText() == nullptr) return false;
    const Text expanded = ExpandPath(path);
    if (expanded.GetText() == nullptr) return false;
    return useRegistry_ ? ReadRegistryValue(expanded, key, value)
                        : ReadFileValue(expanded, key, value);
  }

  // Registry backend: the expanded path names the subkey, `key` the value. Whatever bytes are
  // stored are taken as text, up to the first zero character.
  bool ReadRegistryValue(const Text& path, const Text& key, Text& value) const {
    if (path.GetText() == nullptr || key.GetText() == nullptr) return false;
    typename Port::RegistryKey handle = nullptr;
    if (!port_->OpenKey(path.GetText(), handle)) return false;
    const OpenKey closer(*port_, handle);

    std::uint32_t bytes = 0;
    if (!port_->QueryValue(handle, key.GetText(), nullptr, bytes) || bytes == 0) return false;
    // Whole characters for every stored byte plus one zero character: the text ends inside the
    // buffer whatever the stored data (odd byte counts, no terminator). A size too large to add
    // the terminator to asks for more than can be had, and the allocation fails.
    const std::size_t whole = bytes / sizeof(Ch) + (bytes % sizeof(Ch) != 0 ? 1 : 0);
    const std::size_t units = whole < SIZE_MAX ? whole + 1 : SIZE_MAX;
    PolicyBuffer<Ch, Alloc> buffer(units);
    if (!buffer) return false;
    for (std::size_t i = 0; i < units; ++i) buffer.get()[i] = Ch(0);

    std::uint32_t offered = bytes;
    if (!port_->QueryValue(handle, key.GetText(), buffer.get(), offered)) {
      value = EmptyText();
      return false;
    }
    return value.Assign(buffer.get()) == kTextOk;
  }

  // Settings-file backend: the expanded path is the section name, `key` the key name. Found when
  // the value is not empty.
  bool ReadFileValue(const Text& path, const Text& key, Text& value) const {
    if (path.GetText() == nullptr || key.GetText() == nullptr) return false;
    FileCh file[kSettingsPathChars];
    switch (BuildFilePath(file)) {
      case FilePathResult::kBuilt:
        break;
      case FilePathResult::kUnavailable:
        return false;
      case FilePathResult::kTooLong:
        value = EmptyText();  // as for a file that is not there
        return false;
    }
    const FileText section(*this, path.GetText());
    const FileText name(*this, key.GetText());
    if (section.get() == nullptr || name.get() == nullptr) return false;
    for (std::size_t size = kFirstReadChars;; size = GrownReadSize(size, file)) {
      PolicyBuffer<FileCh, Alloc> buffer(size);
      if (!buffer) return false;
      buffer.get()[0] = FileCh(0);
      const std::size_t count =
          port_->ReadProfileString(section.get(), name.get(), buffer.get(), size, file);
      if (count >= size - 1) continue;  // the text may have been cut: read again with more room
      buffer.get()[count] = FileCh(0);
      if (!AssignFromFile(value, buffer.get())) return false;
      return count != 0;
    }
  }

  // Writes <application data>\<firm>\<app>\<file name> into `buffer`, creating the firm folder
  // and then the application folder when they are missing (a failed creation is ignored). The
  // whole length is checked before anything is created, so a cut path never names a folder.
  FilePathResult BuildFilePath(FileCh (&buffer)[kSettingsPathChars]) const {
    const Ch* firm = firm_.GetText();
    const Ch* app = app_.GetText();
    const Ch* fileName = fileName_.GetText();
    if (firm == nullptr || app == nullptr || fileName == nullptr) {
      return FilePathResult::kUnavailable;
    }
    buffer[0] = FileCh(0);
    if (!port_->GetAppDataFolder(buffer)) return FilePathResult::kUnavailable;
    std::size_t length = 0;
    while (length < kSettingsPathChars && buffer[length] != FileCh(0)) ++length;
    if (length == 0 || length == kSettingsPathChars) return FilePathResult::kUnavailable;

    const FileCh last = buffer[length - 1];
    const bool addSeparator = last != FileCh('\\') && last != FileCh('/');
    // The lengths in the file calls' characters: the limit is theirs.
    const std::size_t firmLength = FileLength(firm);
    const std::size_t appLength = FileLength(app);
    const std::size_t fileLength = FileLength(fileName);
    // Every part is at most a path's length, so the sum cannot wrap before the comparison.
    const std::size_t needed =
        length + (addSeparator ? 1 : 0) + firmLength + 1 + appLength + 1 + fileLength + 1;
    if (firmLength >= kSettingsPathChars || appLength >= kSettingsPathChars ||
        fileLength >= kSettingsPathChars || needed > kSettingsPathChars) {
      return FilePathResult::kTooLong;
    }

    FileCh* end = buffer + length;
    if (addSeparator) *end++ = FileCh('\\');
    end = PutInFile(end, firm, firmLength);
    *end++ = FileCh('\\');
    *end = FileCh(0);
    if (!port_->PathExists(buffer)) port_->CreateFolder(buffer);
    end = PutInFile(end, app, appLength);
    *end = FileCh(0);
    if (!port_->PathExists(buffer)) port_->CreateFolder(buffer);
    *end++ = FileCh('\\');
    end = PutInFile(end, fileName, fileLength);
    *end = FileCh(0);
    return FilePathResult::kBuilt;
  }

 private:
  // Closes a registry key when the read ends, however it ends.
  class OpenKey {
   public:
    OpenKey(Port& port, typename Port::RegistryKey key) : port_(port), key_(key) {}
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    ~OpenKey() { port_.CloseKey(key_); }

   private:
    Port& port_;
    typename Port::RegistryKey key_;
  };

  static constexpr bool kFileCharsAreText = std::is_same_v<Ch, FileCh>;

  // A text of the store in the file calls' characters: the text itself where they are the same,
  // else a converted copy; get() is null when it could not be had.
  class FileText {
   public:
    FileText(const CSettingsT& store, const Ch* text)
        : FileText(store, text,
                   kFileCharsAreText ? 0 : store.port_->ToFileChars(text, nullptr, 0)) {}
    const FileCh* get() const noexcept { return text_; }

   private:
    // `units`: the converted text's, terminator included; 0 where nothing is converted.
    FileText(const CSettingsT& store, const Ch* text, std::size_t units)
        : converted_(units == 0 ? PolicyBuffer<FileCh, Alloc>()
                                : PolicyBuffer<FileCh, Alloc>(units)) {
      if constexpr (kFileCharsAreText) {
        text_ = text;
      } else if (converted_ && store.port_->ToFileChars(text, converted_.get(), units) == units) {
        text_ = converted_.get();
      }
    }

    PolicyBuffer<FileCh, Alloc> converted_;
    const FileCh* text_ = nullptr;
  };

  // The length of `text` in the file calls' characters, terminator not counted; a text that
  // cannot be converted counts as longer than any path.
  std::size_t FileLength(const Ch* text) const {
    if constexpr (kFileCharsAreText) {
      return TextLength(text);
    } else {
      const std::size_t units = port_->ToFileChars(text, nullptr, 0);
      return units == 0 ? kSettingsPathChars : units - 1;
    }
  }

  // Writes `text`, `length` file characters long as FileLength counted them, at `to`, where
  // there is room for them and a terminator.
  FileCh* PutInFile(FileCh* to, const Ch* text, std::size_t length) const {
    if constexpr (kFileCharsAreText) {
      return Put(to, text, length);
    } else {
      port_->ToFileChars(text, to, length + 1);
      return to + length;
    }
  }

  // The value as the store's text; false when memory ran out or it could not be converted.
  bool AssignFromFile(Text& value, const FileCh* read) const {
    if constexpr (kFileCharsAreText) {
      return value.Assign(read) == kTextOk;
    } else {
      const std::size_t units = port_->FromFileChars(read, nullptr, 0);
      if (units == 0) return false;
      PolicyBuffer<Ch, Alloc> converted(units);
      if (!converted || port_->FromFileChars(read, converted.get(), units) != units) return false;
      converted.get()[units - 1] = Ch(0);
      return value.Assign(converted.get()) == kTextOk;
    }
  }

  static const Ch* EmptyText() noexcept {
    static constexpr Ch kEmpty[1] = {Ch(0)};
    return kEmpty;
  }

  // The next read's room: the file's size plus a terminator, or twice the last room when that
  // is more (or the size is unknown). Past half the address space it asks for everything,
  // which no allocation satisfies, so the read ends as after any failed allocation.
  std::size_t GrownReadSize(std::size_t size, const FileCh* file) const {
    const std::size_t doubled = size <= SIZE_MAX / 2 ? size * 2 : SIZE_MAX;
    std::uint64_t bytes = 0;
    if (!port_->FileBytes(file, bytes) || bytes >= SIZE_MAX) return doubled;
    const auto whole = static_cast<std::size_t>(bytes) + 1;
    return whole > doubled ? whole : doubled;
  }

  template <class Unit>
  static Unit* Put(Unit* to, const Unit* from, std::size_t count) noexcept {
    CopyUnits(to, from, count);
    return to + count;
  }

  // Appends `text` unless it is absent; false only when memory ran out.
  static bool AppendPresent(Text& to, const Ch* text) {
    return text == nullptr || to.Append(text) == kTextOk;
  }

  static bool StartsWith(const Ch* text, const Ch* prefix) noexcept {
    for (; *prefix != Ch(0); ++text, ++prefix) {
      if (*text != *prefix) return false;
    }
    return true;
  }

  // The first match of `pattern` at or after `from`; candidates advance by whole characters.
  const Ch* Find(const Ch* from, const Ch* pattern) const {
    for (const Ch* p = from; *p != Ch(0); p = port_->NextChar(p)) {
      if (StartsWith(p, pattern)) return p;
    }
    return nullptr;
  }

  // Replaces every non-overlapping match of `pattern` in `work`, left to right; an absent
  // replacement counts as empty. false when memory ran out (the text is then left as it was).
  bool ReplaceAll(Text& work, const Ch* pattern, const Ch* replacement) const {
    const Ch* text = work.GetText();
    const std::size_t patternLength = TextLength(pattern);
    const std::size_t replacementLength = replacement == nullptr ? 0 : TextLength(replacement);
    std::size_t length = TextLength(text);
    bool found = false;
    for (const Ch* match = Find(text, pattern); match != nullptr;
         match = Find(match + patternLength, pattern)) {
      found = true;
      length -= patternLength;
      if (replacementLength > SIZE_MAX - 1 - length) return false;
      length += replacementLength;
    }
    if (!found) return true;

    PolicyBuffer<Ch, Alloc> result(length + 1);
    if (!result) return false;
    Ch* to = result.get();
    const Ch* scan = text;
    for (const Ch* match = Find(scan, pattern); match != nullptr; match = Find(scan, pattern)) {
      to = Put(to, scan, static_cast<std::size_t>(match - scan));
      to = Put(to, replacement, replacementLength);
      scan = match + patternLength;
    }
    to = Put(to, scan, TextLength(scan));
    *to = Ch(0);
    return work.Assign(result.get()) == kTextOk;
  }

  bool useRegistry_;
  Text baseKey_;
  Text firm_;
  Text app_;
  Text fileName_;
  Placeholders placeholders_;
  Port* port_;
};

using CSettingsA = CSettingsT<char>;
using CSettingsW = CSettingsT<wchar_t>;

}  // namespace quillon
