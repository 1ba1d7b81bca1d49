#include "host/client/win32_library_update.h"

#include "host/contract.h"
#include "host/win32_handles.h"

namespace quillon {
namespace {

// Far more than any build of the library; a larger file of an aside copy's name is not ours.
constexpr DWORD kLargestLibrary = 64u << 20;

FileResult Outcome(BOOL succeeded) {
  if (succeeded) return {};
  const DWORD error = ::GetLastError();
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return {FileOutcome::kNotFound, error};
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return {FileOutcome::kExists, error};
    default:
      return {FileOutcome::kFailed, error};
  }
}

// The staged copy is renamed into the installed path next: its data must be on disk before the
// name is, or a power cut could leave the installed name on a file never written.
BOOL Flush(const std::wstring& path) {
  UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && ::FlushFileBuffers(file.Get());
}

// A copy takes the source's attributes: a new file from read-only media would make a library
// that could neither be flushed now nor deleted once set aside later.
bool IsReadOnly(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

BOOL ClearReadOnly(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FALSE;
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return TRUE;
  return ::SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
}

bool FullPath(const std::wstring& path, std::wstring& full) {
  if (path.empty()) return false;
  const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return false;
  full.assign(size, L'\0');
  const DWORD written = ::GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
  if (written == 0 || written >= size) return false;
  full.resize(written);
  return true;
}

}  // namespace

FileKind Win32FilePort::Inspect(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileKind::kMissing
                                                                          : FileKind::kOther;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::kOther : FileKind::kFile;
}

FileResult Win32FilePort::CopyNew(const std::wstring& from, const std::wstring& to) {
  FileResult result = Outcome(::CopyFileW(from.c_str(), to.c_str(), TRUE));
  if (result.outcome == FileOutcome::kDone) result = Outcome(ClearReadOnly(to));
  if (result.outcome == FileOutcome::kDone) result = Outcome(Flush(to));
  // The name was fresh, so whatever lies there now is this copy's remains.
  if (result.outcome != FileOutcome::kDone && result.outcome != FileOutcome::kExists) {
    ::DeleteFileW(to.c_str());
  }
  return result;
}

FileResult Win32FilePort::Rename(const std::wstring& from, const std::wstring& to) {
  // No MOVEFILE_COPY_ALLOWED: a mapped image can be renamed but not copied and deleted, and
  // no MOVEFILE_REPLACE_EXISTING: a name that is taken is reported, never overwritten.
  return Outcome(::MoveFileExW(from.c_str(), to.c_str(), 0));
}

FileResult Win32FilePort::Delete(const std::wstring& path) {
  FileResult result = Outcome(::DeleteFileW(path.c_str()));
  // An aside copy of a library installed read-only: only the attribute stands in the way (a
  // mapped copy still refuses, and keeps the attribute cleared, which does no harm).
  if (result.system_error == ERROR_ACCESS_DENIED && IsReadOnly(path) && ClearReadOnly(path)) {
    result = Outcome(::DeleteFileW(path.c_str()));
  }
  return result;
}

std::vector<std::wstring> Win32FilePort::ListFiles(const std::wstring& folder,
                                                   const std::wstring& prefix) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  UniqueFind search(::FindFirstFileW((folder + prefix + L"*").c_str(), &found));
  if (!search) return names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
  } while (::FindNextFileW(search.Get(), &found));
  return names;
}

std::uint64_t Win32FilePort::UniqueNumber() {
  // The time in 100 ns steps keeps the names in the order they were made; a number is never
  // repeated within this port.
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const std::uint64_t time = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  last_number_ = time > last_number_ ? time : last_number_ + 1;
  return last_number_;
}

bool Win32FilePort::LoadedInThisProcess(const std::wstring& path) {
  return ::GetModuleHandleW(path.c_str()) != nullptr;
}

bool Win32FilePort::ReadWhole(const std::wstring& path, std::vector<unsigned char>& bytes) {
  bytes.clear();
  // Share-delete as well: the loader maps an image with it, and a copy may be renamed meanwhile.
  UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart > kLargestLibrary) return false;
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  if (!bytes.empty() &&
      (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
       read != bytes.size())) {
    bytes.clear();
    return false;
  }
  return true;
}

LibraryUpdate ReplaceLibraryFile(const std::wstring& new_file, const std::wstring& installed) {
  LibraryUpdate update;
  std::wstring source, target;
  if (!FullPath(new_file, source)) {
    update.status = UpdateStatus::kNewFileMissing;
    return update;
  }
  if (!FullPath(installed, target)) {
    update.status = UpdateStatus::kBadPath;
    return update;
  }
  Win32FilePort files;
  return ReplaceInstalledFile(files, source, target);
}

AsideCleanup RemoveAsideCopies(const std::wstring& installed) {
  std::wstring target;
  if (!FullPath(installed, target)) return {};
  Win32FilePort files;
  return RemoveAsideCopies(files, target);
}

OldCopyCheck CheckOldCopies(const std::wstring& installed) {
  std::wstring target;
  if (!FullPath(installed, target)) return {};  // nothing to install from either
  Win32FilePort files;
  return CheckOldCopies(files, target, contract::kHookProcName);
}

}  // namespace quillon
