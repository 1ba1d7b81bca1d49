// Replacing an installed file that running programs may still have mapped, as the host's
// installer or updater replaces Tallyhook.dll: Windows lets a mapped image be renamed but not
// deleted or overwritten. So the new file is first copied into the installed file's folder under
// a staging name, the installed file is renamed aside to "<name>.old-<16 hex digits>", and the
// staged copy is renamed into the installed path, which therefore never holds a half-written
// file. Aside copies that nobody holds any more are deleted then and by every later call; the
// held ones stay until a later call finds them free.
//
// The steps are portable behind FilePort, so that every failure path is tested against a fake;
// the Win32 adapter and the calls a host makes are in win32_library_update.h.
#ifndef QUILLON_HOST_CLIENT_LIBRARY_UPDATE_H
#define QUILLON_HOST_CLIENT_LIBRARY_UPDATE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// How one file operation ended.
enum class FileOutcome {
  kDone,
  kNotFound,  // the source (or the target's folder) does not exist
  kExists,    // the target name is taken: nothing was changed
  kFailed,    // anything else (in use, no access, disk full); see the system error
};

struct FileResult {
  FileOutcome outcome = FileOutcome::kDone;
  std::uint32_t system_error = 0;  // the platform's code when it did not succeed
};

enum class FileKind { kMissing, kFile, kOther };  // kOther: a folder, or unreadable

class FilePort {
 public:
  virtual FileKind Inspect(const std::wstring& path) = 0;
  // Copies into a new file; never overwrites (kExists). A copy that fails leaves nothing behind.
  virtual FileResult CopyNew(const std::wstring& from, const std::wstring& to) = 0;
  // Renames within one volume, never copies and never overwrites (kExists).
  virtual FileResult Rename(const std::wstring& from, const std::wstring& to) = 0;
  virtual FileResult Delete(const std::wstring& path) = 0;
  // Names (not paths) of the files in `folder` whose names start with `prefix`, ignoring case.
  virtual std::vector<std::wstring> ListFiles(const std::wstring& folder,
                                              const std::wstring& prefix) = 0;
  // A number not handed out before in this process (the suffix of staging and aside names;
  // a name another process took meanwhile is retried with the next one).
  virtual std::uint64_t UniqueNumber() = 0;
  // True when this process has a module loaded from `path`.
  virtual bool LoadedInThisProcess(const std::wstring& path) = 0;
  // The whole content of the file at `path`, which some process may map; false when it cannot
  // be read.
  virtual bool ReadWhole(const std::wstring& path, std::vector<unsigned char>& bytes) = 0;

 protected:
  virtual ~FilePort() = default;
};

enum class UpdateStatus {
  kReplaced,           // the new file is in place (first install included)
  kBadPath,            // the installed path names no file in a folder: nothing was done
  kNewFileMissing,     // the new file is missing or not a file: nothing was done
  kInstalledNotAFile,  // a folder (or something unreadable) at the installed path: nothing done
  kStagingFailed,      // the new file could not be copied into the folder: nothing was changed
  kMoveAsideFailed,    // the installed file could not be renamed aside: it was left in place
  kPutInPlaceFailed,   // the staged copy could not be renamed in: the old file is back in place
  kRestoreFailed,      // neither: the installed path is empty, the old file lies at `aside`
};

const char* Describe(UpdateStatus status);

struct LibraryUpdate {
  UpdateStatus status = UpdateStatus::kReplaced;
  std::uint32_t system_error = 0;  // of the step that failed
  // The replaced file, renamed aside and still held (or, after kRestoreFailed, the only copy of
  // the old file); empty when nothing was installed before or it could be deleted at once.
  std::wstring aside;
  // Aside copies of the installed file still there (held by some process), this call's own
  // included; a later call, or RemoveAsideCopies, tries them again.
  std::size_t aside_copies_left = 0;
  // This process itself still had the replaced library loaded: LoadLibrary of the installed path
  // returns that old copy, not the new file, until it is freed here.
  bool loaded_here = false;
};

// Puts `new_file` in place of `installed` (a full path) as described at the top.
LibraryUpdate ReplaceInstalledFile(FilePort& files, const std::wstring& new_file,
                                   const std::wstring& installed);

struct AsideCleanup {
  std::size_t removed = 0;
  // Still there: could not be deleted (some process still maps them), or kept because nothing
  // is installed.
  std::size_t left = 0;
};

// Deletes the aside copies of `installed` that nobody holds any more. Only names of the exact
// pattern "<installed name>.old-<16 hex digits>" are touched, and none at all while nothing is
// installed, so that the last copy of the library is never deleted.
AsideCleanup RemoveAsideCopies(FilePort& files, const std::wstring& installed);

// What the aside copies still held mean for installing the hook from the installed file. The
// system keeps a hook's procedure as its offset into the library and, in a program that still
// has the old copy loaded under the installed path, applies that offset to the old copy: safe
// only where the old copy has HookProc at the same offset, when it runs its own HookProc.
struct OldCopyCheck {
  std::size_t held = 0;  // aside copies left after the free ones were deleted
  // Of those, the ones whose HookProc lies at another offset than in the installed file, or
  // that cannot be read as a library with HookProc (counted as moved: nothing shows them safe).
  std::size_t hook_proc_moved = 0;

  bool SafeToInstall() const { return hook_proc_moved == 0; }
};

// Deletes the free aside copies of `installed` (RemoveAsideCopies), then compares the export
// `hook_proc_name` in each one left with the installed file's. With nothing installed there is
// nothing to compare and nothing to install from: loading the library reports that.
OldCopyCheck CheckOldCopies(FilePort& files, const std::wstring& installed,
                            const char* hook_proc_name);

// True when `file_name` is an aside name of `installed_name` (ignoring ASCII case).
bool IsAsideName(const std::wstring& file_name, const std::wstring& installed_name);

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_LIBRARY_UPDATE_H
