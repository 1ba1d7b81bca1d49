// Replacing Tallyhook.dll while programs still have it mapped, for the host's installer or
// updater (the steps and their results are in library_update.h). An update follows this order:
// remove the hook (IconHook::Remove), ReplaceLibraryFile, and install the hook again. A program
// that still maps an old copy when the hook comes back gets the new library's HookProc offset
// applied to that old copy, so IconHook::Install refuses (kOldLibraryInUse) while an aside copy
// with HookProc at another offset is left; try again until it has gone.
#ifndef QUILLON_HOST_CLIENT_WIN32_LIBRARY_UPDATE_H
#define QUILLON_HOST_CLIENT_WIN32_LIBRARY_UPDATE_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/client/library_update.h"

namespace quillon {

class Win32FilePort final : public FilePort {
 public:
  FileKind Inspect(const std::wstring& path) override;
  FileResult CopyNew(const std::wstring& from, const std::wstring& to) override;
  FileResult Rename(const std::wstring& from, const std::wstring& to) override;
  FileResult Delete(const std::wstring& path) override;
  std::vector<std::wstring> ListFiles(const std::wstring& folder,
                                      const std::wstring& prefix) override;
  std::uint64_t UniqueNumber() override;
  bool LoadedInThisProcess(const std::wstring& path) override;
  bool ReadWhole(const std::wstring& path, std::vector<unsigned char>& bytes) override;

 private:
  std::uint64_t last_number_ = 0;
};

// Puts `new_file` in place of the installed library `installed` (relative paths are taken from
// the current folder). The new file itself is left as it is.
LibraryUpdate ReplaceLibraryFile(const std::wstring& new_file, const std::wstring& installed);

// Deletes the aside copies of `installed` that nobody holds any more, for instance at the host's
// next start.
AsideCleanup RemoveAsideCopies(const std::wstring& installed);

// Whether the hook may be installed from `installed` now (IconHook::Install asks this first):
// not while a program may still map an aside copy whose HookProc lies at another offset.
OldCopyCheck CheckOldCopies(const std::wstring& installed);

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_WIN32_LIBRARY_UPDATE_H
