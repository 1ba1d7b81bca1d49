#include "host/client/library_update.h"

#include <optional>

#include "host/client/pe_export.h"

namespace quillon {
namespace {

constexpr wchar_t kAsideMark[] = L".old-";
constexpr wchar_t kStagingMark[] = L".new-";
constexpr std::size_t kMarkLength = 5;
constexpr std::size_t kUniqueDigits = 16;
// Names another process took meanwhile are skipped; this many in a row means something else
// is wrong.
constexpr int kNameAttempts = 16;

struct PathParts {
  std::wstring folder;  // with its trailing separator
  std::wstring name;
};

bool Split(const std::wstring& path, PathParts& parts) {
  const std::size_t cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos || cut + 1 == path.size()) return false;
  parts.folder = path.substr(0, cut + 1);
  parts.name = path.substr(cut + 1);
  return true;
}

std::wstring Hex(std::uint64_t number) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text(kUniqueDigits, L'0');
  for (std::size_t i = kUniqueDigits; i-- > 0; number >>= 4) text[i] = kDigits[number & 0xF];
  return text;
}

wchar_t FoldAscii(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool IsHexDigit(wchar_t c) {
  const wchar_t folded = FoldAscii(c);
  return (folded >= L'0' && folded <= L'9') || (folded >= L'a' && folded <= L'f');
}

// `text` from `offset` on starts with `part`, ignoring ASCII case (Windows file names ignore
// case; other letters must match exactly, which can only make fewer files ours).
bool MatchesAt(const std::wstring& text, std::size_t offset, const std::wstring& part) {
  if (text.size() < offset + part.size()) return false;
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (FoldAscii(text[offset + i]) != FoldAscii(part[i])) return false;
  }
  return true;
}

// Runs `attempt` on "<stem><16 hex digits>" names until one is not taken; `chosen` is the name
// that worked, empty when none did.
template <class Attempt>
FileResult WithFreshName(FilePort& files, const std::wstring& stem, Attempt attempt,
                         std::wstring& chosen) {
  FileResult result{FileOutcome::kExists, 0};
  for (int i = 0; i < kNameAttempts && result.outcome == FileOutcome::kExists; ++i) {
    chosen = stem + Hex(files.UniqueNumber());
    result = attempt(chosen);
  }
  if (result.outcome != FileOutcome::kDone) chosen.clear();
  return result;
}

LibraryUpdate& Fail(LibraryUpdate& update, UpdateStatus status, const FileResult& step) {
  update.status = status;
  update.system_error = step.system_error;
  return update;
}

}  // namespace

bool IsAsideName(const std::wstring& file_name, const std::wstring& installed_name) {
  const std::size_t digits = installed_name.size() + kMarkLength;
  if (file_name.size() != digits + kUniqueDigits) return false;
  if (!MatchesAt(file_name, 0, installed_name) ||
      !MatchesAt(file_name, installed_name.size(), kAsideMark)) {
    return false;
  }
  for (std::size_t i = digits; i < file_name.size(); ++i) {
    if (!IsHexDigit(file_name[i])) return false;
  }
  return true;
}

namespace {

// The clean-up of ReplaceInstalledFile, which must not delete the new file it was given: that may
// be an aside copy itself (the rollback after kRestoreFailed puts `aside` back). It is told by its
// name alone, ignoring ASCII case as Windows does: the name holds 16 digits that are unique, so
// one in another folder costs at most one copy kept until the next clean-up, and no folder
// spelling (case outside ASCII, short names, a second path to it) can make the new file look
// like another one.
AsideCleanup RemoveAsideCopiesExcept(FilePort& files, const std::wstring& installed,
                                     const std::wstring& keep) {
  AsideCleanup cleanup;
  PathParts where, kept;
  if (!Split(installed, where)) return cleanup;
  const bool keep_one = !keep.empty() && Split(keep, kept);
  const bool installed_present = files.Inspect(installed) == FileKind::kFile;
  for (const std::wstring& name : files.ListFiles(where.folder, where.name + kAsideMark)) {
    if (!IsAsideName(name, where.name)) continue;
    if (keep_one && name.size() == kept.name.size() && MatchesAt(name, 0, kept.name)) continue;
    if (!installed_present) {  // it may be the only copy left
      ++cleanup.left;
      continue;
    }
    const FileResult deleted = files.Delete(where.folder + name);
    if (deleted.outcome == FileOutcome::kDone) {
      ++cleanup.removed;
    } else if (deleted.outcome != FileOutcome::kNotFound) {
      ++cleanup.left;  // still mapped somewhere: Windows refuses to delete a mapped image
    }
  }
  return cleanup;
}

}  // namespace

AsideCleanup RemoveAsideCopies(FilePort& files, const std::wstring& installed) {
  return RemoveAsideCopiesExcept(files, installed, {});
}

OldCopyCheck CheckOldCopies(FilePort& files, const std::wstring& installed,
                            const char* hook_proc_name) {
  OldCopyCheck check;
  PathParts where;
  if (!Split(installed, where)) return check;
  check.held = RemoveAsideCopies(files, installed).left;
  if (check.held == 0 || files.Inspect(installed) != FileKind::kFile) return check;

  std::vector<unsigned char> bytes;
  const std::optional<std::uint32_t> current =
      files.ReadWhole(installed, bytes) ? ExportRva(bytes, hook_proc_name) : std::nullopt;
  for (const std::wstring& name : files.ListFiles(where.folder, where.name + kAsideMark)) {
    if (!IsAsideName(name, where.name)) continue;
    const std::optional<std::uint32_t> old = files.ReadWhole(where.folder + name, bytes)
                                                 ? ExportRva(bytes, hook_proc_name)
                                                 : std::nullopt;
    if (!current || !old || *old != *current) ++check.hook_proc_moved;
  }
  return check;
}

LibraryUpdate ReplaceInstalledFile(FilePort& files, const std::wstring& new_file,
                                   const std::wstring& installed) {
  LibraryUpdate update;
  PathParts where;
  if (!Split(installed, where)) return Fail(update, UpdateStatus::kBadPath, {});
  if (files.Inspect(new_file) != FileKind::kFile) {
    return Fail(update, UpdateStatus::kNewFileMissing, {});
  }
  const FileKind present = files.Inspect(installed);
  if (present == FileKind::kOther) return Fail(update, UpdateStatus::kInstalledNotAFile, {});
  update.loaded_here = present == FileKind::kFile && files.LoadedInThisProcess(installed);

  // The copy, the step that fails for the most reasons (disk full, unreadable source), is done
  // before the installed file is touched; what follows are renames within one folder.
  std::wstring staged;
  const FileResult staging = WithFreshName(
      files, where.folder + where.name + kStagingMark,
      [&](const std::wstring& name) { return files.CopyNew(new_file, name); }, staged);
  if (staging.outcome != FileOutcome::kDone) {
    return Fail(update, UpdateStatus::kStagingFailed, staging);
  }

  std::wstring aside;
  if (present == FileKind::kFile) {
    const FileResult moved = WithFreshName(
        files, where.folder + where.name + kAsideMark,
        [&](const std::wstring& name) { return files.Rename(installed, name); }, aside);
    // kNotFound: it went meanwhile, so this is a first install after all.
    if (moved.outcome != FileOutcome::kDone && moved.outcome != FileOutcome::kNotFound) {
      files.Delete(staged);
      return Fail(update, UpdateStatus::kMoveAsideFailed, moved);
    }
  }

  const FileResult placed = files.Rename(staged, installed);
  if (placed.outcome != FileOutcome::kDone) {
    files.Delete(staged);  // the caller still has the new file
    if (!aside.empty()) {
      const FileResult restored = files.Rename(aside, installed);
      if (restored.outcome != FileOutcome::kDone) {
        update.aside = aside;
        return Fail(update, UpdateStatus::kRestoreFailed, restored);
      }
    }
    return Fail(update, UpdateStatus::kPutInPlaceFailed, placed);
  }

  // This call's own aside copy too: nothing may hold it (the host unhooked and nobody had it).
  update.aside_copies_left = RemoveAsideCopiesExcept(files, installed, new_file).left;
  if (!aside.empty() && files.Inspect(aside) != FileKind::kMissing) update.aside = aside;
  return update;
}

const char* Describe(UpdateStatus status) {
  switch (status) {
    case UpdateStatus::kReplaced:
      return "replaced";
    case UpdateStatus::kBadPath:
      return "the installed path names no file in a folder";
    case UpdateStatus::kNewFileMissing:
      return "the new file is missing or not a file";
    case UpdateStatus::kInstalledNotAFile:
      return "the installed path is a folder or cannot be read";
    case UpdateStatus::kStagingFailed:
      return "cannot copy the new file into the installed file's folder";
    case UpdateStatus::kMoveAsideFailed:
      return "cannot rename the installed file aside; it was left in place";
    case UpdateStatus::kPutInPlaceFailed:
      return "cannot rename the new file into place; the old file is back in place";
    case UpdateStatus::kRestoreFailed:
      return "cannot rename the new file into place nor the old one back; the old file is aside";
  }
  return "unknown";
}

}  // namespace quillon
