// Helpers for the Wine tests of the hook library: a guard that sees every access violation
// (Wine swallows exceptions in hook procedures and timer callbacks), the liveness settings file
// and copies of the library (a copy is a module of its own, with its own attach).
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace quillon::test {

// Counts access violations anywhere in the process for as long as it lives.
class AccessViolationGuard {
 public:
  AccessViolationGuard();
  ~AccessViolationGuard();
  AccessViolationGuard(const AccessViolationGuard&) = delete;
  AccessViolationGuard& operator=(const AccessViolationGuard&) = delete;
  static long count();

 private:
  void* handler_;
};

// The hook library's settings file: <application data>\Orvane\Quillon\QuillonFree.cfg.
std::wstring HookSettingsFilePath();
// Writes the liveness value as given (the folders are created when missing).
bool WriteLivenessValue(const std::wstring& text);
// Writes the window's handle as decimal text, the way the host does.
bool WriteLivenessWindow(HWND window);
void RemoveSettingsFile();

// Copies `source` to %TEMP%\<folder>\<name> and returns the copy's path ("" on failure).
std::wstring CopyToTemp(const std::wstring& source, const wchar_t* folder, const wchar_t* name);

// A Linux path given on the command line (through Wine's Z: drive) as a Windows path.
std::wstring WindowsPath(const char* path);

// Failure bookkeeping for plain test programs.
class Checks {
 public:
  void Check(bool ok, const char* what, int line) {
    if (!ok) {
      ++failures_;
      std::printf("FAILED (line %d): %s\n", line, what);
    }
    std::fflush(stdout);
  }
  int failures() const { return failures_; }
  // Prints the verdict and returns the program's exit code.
  int Verdict() const {
    std::printf("%s: %d failure(s)\n", failures_ == 0 ? "PASSED" : "FAILED", failures_);
    return failures_ == 0 ? 0 : 1;
  }

 private:
  int failures_ = 0;
};

}  // namespace quillon::test

#define QCHECK(checks, condition) (checks).Check((condition), #condition, __LINE__)
