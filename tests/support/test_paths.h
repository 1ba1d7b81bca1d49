// Paths the Wine test programs work with: their own image, copies of a library or program under
// another name, and Linux paths handed over on the command line.
#pragma once

#include <string>

namespace quillon::test {

// This program's image path.
std::wstring OwnPath();

// %TEMP%\<name>\ (with its trailing separator), created when missing.
std::wstring TempFolder(const wchar_t* name);

// Copies `source` to %TEMP%\<folder>\<name> and returns the copy's path ("" on failure). A copy
// is a module of its own (a library attaches anew) or an image path of its own (a program).
std::wstring CopyToTemp(const std::wstring& source, const wchar_t* folder, const wchar_t* name);

// A Linux path given on the command line (through Wine's Z: drive) as a Windows path.
std::wstring WindowsPath(const char* path);

}  // namespace quillon::test
