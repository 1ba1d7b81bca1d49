// One life of the stand-in host: started with its log in a file of its own, read line by line,
// and ended either cleanly (its stop file) or by force.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/soak/host_log.h"
#include "tests/soak/launched.h"
#include "tests/soak/log_tail.h"

namespace quillon::soak {

// How long a host may take from its start to logging "running" (it waits for Sidecar64), and to
// be heard from by every flipper before its last end.
inline constexpr ULONGLONG kHostStartLimitMs = 30000;

class HostRun {
 public:
  // `number` counts the host's lives from 1; the files are <folder>\host-<number>.log and .stop.
  HostRun(unsigned number, const std::wstring& exe, const std::wstring& folder);

  bool Start();
  // The lines it logged since the last call, read; the state below follows them.
  std::vector<HostLine> NewLines();
  // Asks for a clean end (its stop file).
  bool RequestEnd();
  void Kill();

  unsigned number() const { return number_; }
  bool running() const { return running_; }  // it logged "running" and has not ended
  bool stopped_cleanly() const { return stopped_; }
  DWORD sidecar_process() const { return sidecar_process_; }
  HWND main_window() const { return main_window_; }
  HWND sidecar_window() const { return sidecar_window_; }
  const Launched& process() const { return process_; }
  ULONGLONG started_at() const { return started_at_; }
  unsigned sidecar_losses() const { return sidecar_losses_; }

 private:
  unsigned number_;
  std::wstring exe_;
  std::wstring stop_file_;
  std::wstring log_file_;
  Launched process_;
  LogTail log_;
  ULONGLONG started_at_ = 0;
  bool running_ = false;
  bool stopped_ = false;
  DWORD sidecar_process_ = 0;
  HWND main_window_ = nullptr;
  HWND sidecar_window_ = nullptr;
  unsigned sidecar_losses_ = 0;
};

}  // namespace quillon::soak
