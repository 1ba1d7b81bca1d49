// The programs the soak runs besides the host: Wine's own programs of both widths, which nobody
// here wrote, and our icon flippers. Each goes through starting (until it shows a window),
// running, closing (WM_CLOSE to its windows, until it ends with its exit code) and stopped; every
// way out of that order is a fault.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/soak/launched.h"
#include "tests/soak/log_tail.h"

namespace quillon::soak {

// What the soak starts, and when it counts as running.
struct ProgramSetup {
  std::wstring name;  // for the report
  std::wstring path;  // the image; Sidecar64 must answer this path for its windows
  std::wstring arguments;
  bool flipper = false;     // one of ours: logs its windows and its faults
  std::size_t windows = 1;  // it counts as running once this many are shown
};

// Wine's programs that show a window within seconds under qemu: notepad, winemine, clock,
// taskmgr, winefile, each in its 32-bit (syswow64) and its 64-bit (system32) build.
std::vector<ProgramSetup> WinePrograms();

class Program {
 public:
  enum class State { kStopped, kStarting, kRunning, kClosing };

  explicit Program(ProgramSetup setup, std::wstring log_folder);

  // What went wrong with it, one line each; the soak counts and prints them.
  struct Faults {
    std::vector<std::string> lines;
  };

  bool Start(ULONGLONG now, Faults& faults);
  void Close(ULONGLONG now);
  // Moves the program along: its window showed, it closed, or it did something it should not.
  void Poll(ULONGLONG now, Faults& faults);
  // Ends it by force whatever its state (the soak's own clean-up).
  void Kill();

  State state() const { return state_; }
  const ProgramSetup& setup() const { return setup_; }
  const std::vector<HWND>& windows() const { return windows_; }
  DWORD ProcessId() const { return process_.ProcessId(); }
  HANDLE Handle() const { return process_.Handle(); }
  // A flipper's windows in its current (or latest) run, and how many rounds of icon changes
  // (two WM_SETICON per window each) it reported between two moments (GetTickCount64, as the
  // soak read them).
  const std::vector<HWND>& flipper_windows() const { return flipper_windows_; }
  unsigned RoundsBetween(ULONGLONG from, ULONGLONG to) const;
  unsigned starts() const { return starts_; }
  unsigned closes() const { return closes_; }

 private:
  static constexpr ULONGLONG kShowLimitMs = 30000;
  static constexpr ULONGLONG kCloseLimitMs = 20000;
  static constexpr ULONGLONG kWindowRefreshMs = 2000;
  void Fault(Faults& faults, const std::string& what) const;
  void ReadFlipperLog(Faults& faults);

  ProgramSetup setup_;
  std::wstring log_folder_;
  Launched process_;
  std::unique_ptr<LogTail> log_;  // a flipper's, for its fault lines
  State state_ = State::kStopped;
  ULONGLONG since_ = 0;
  ULONGLONG windows_read_ = 0;
  std::vector<HWND> windows_;
  std::vector<HWND> flipper_windows_;
  std::vector<ULONGLONG> rounds_;  // when each round's line was read
  unsigned starts_ = 0;
  unsigned closes_ = 0;
};

}  // namespace quillon::soak
