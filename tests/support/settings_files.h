// The host's two settings files as the Wine tests write them: byte for byte, with the liveness
// value exactly as a test gives it (leading blanks, signs, a million digits), so that each test
// decides what the companions read. The host's own writer is the client's (win32_liveness.h).
// The files live in <application data>\Orvane\Quillon of the tests' own prefix.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace quillon::test {

// The folders and a file's path; none of these creates anything.
std::wstring FirmFolder();
std::wstring AppFolder();
std::wstring SettingsFilePath(const wchar_t* fileName);

// Writes the whole file: the liveness section with "Handle=" and `handleText` (the folders are
// created when missing). False when it could not be written.
bool WriteSettingsFile(const wchar_t* fileName, std::wstring_view handleText);
// Writes the whole file with `hostWindow` as the host's main window, in the host's own text.
bool WriteHostWindow(const wchar_t* fileName, HWND hostWindow);
void RemoveSettingsFile(const wchar_t* fileName);
// Truncates the file, as a save does before it writes the file anew. False when it could not.
bool EmptySettingsFile(const wchar_t* fileName);
// Removes the two folders, when nothing is left in them.
void RemoveSettingsFolders();

// Keeps both files as they are now and puts them back when it ends (a file that did not exist
// is removed, and so are the folders then left empty).
class SettingsBackup {
 public:
  SettingsBackup();
  ~SettingsBackup();
  SettingsBackup(const SettingsBackup&) = delete;
  SettingsBackup& operator=(const SettingsBackup&) = delete;

 private:
  struct Kept {
    bool existed = false;
    std::string content;
  };
  Kept hook_, assistant_;
};

// Sets the firm folder aside (other programs' settings files may live there too), so that a test
// starts with no folders at all, and puts it back when it ends (what the test left in the
// folders, both settings files included, is removed first).
class FirmFolderSetAside {
 public:
  FirmFolderSetAside();
  ~FirmFolderSetAside();
  FirmFolderSetAside(const FirmFolderSetAside&) = delete;
  FirmFolderSetAside& operator=(const FirmFolderSetAside&) = delete;

 private:
  std::wstring aside_;
  bool moved_ = false;
};

}  // namespace quillon::test
