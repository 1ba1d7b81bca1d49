// A program the soak starts: its process handle, its standard output in a file of its own, and
// its visible top-level windows. Ended by force when the object goes, so nothing is left running.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "host/win32_handles.h"

namespace quillon::soak {

class Launched {
 public:
  Launched() = default;
  ~Launched() { Kill(1); }
  Launched(const Launched&) = delete;
  Launched& operator=(const Launched&) = delete;

  // Starts `exe` with `arguments`; its standard output and error go to `output` (or nowhere).
  bool Start(const std::wstring& exe, const std::wstring& arguments, const std::wstring& output);
  bool Started() const { return static_cast<bool>(process_); }
  bool Running() const;
  // STILL_ACTIVE while it runs.
  DWORD ExitCode() const;
  bool WaitForExit(DWORD milliseconds) const;
  // Ends it by force with `code`; true once it is gone.
  bool Kill(UINT code);
  DWORD ProcessId() const { return process_id_; }
  HANDLE Handle() const { return process_.Get(); }
  // Its visible top-level windows that have a title.
  std::vector<HWND> VisibleWindows() const;
  // Forgets the process (after it has ended), so that the object can start another.
  void Reset();

 private:
  UniqueKernelHandle process_;
  DWORD process_id_ = 0;
};

// The visible, titled top-level windows of one process.
std::vector<HWND> VisibleWindowsOf(DWORD process_id);

}  // namespace quillon::soak
