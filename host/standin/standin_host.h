// The stand-in host: what the real host does for its two companions, and a readable log of what
// comes back. See docs/integration.md for the contract it follows.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <vector>

#include "host/client/win32_host_instance.h"
#include "host/client/win32_icon_hook.h"
#include "host/shell/shell_chain.h"
#include "host/standin/assistant_supervisor.h"
#include "host/standin/options.h"
#include "host/standin/task_bar_window.h"
#include "host/win32_handles.h"

namespace quillon::standin {

class StandinHost {
 public:
  explicit StandinHost(Options options);
  ~StandinHost();
  StandinHost(const StandinHost&) = delete;
  StandinHost& operator=(const StandinHost&) = delete;

  // Sets everything up, runs until closed, the time limit or Ctrl+C, then takes it all down.
  // The process exit code: 0 after a clean run; kAnotherHostRuns, with nothing touched, when
  // another host holds the session.
  int Run();
  static constexpr int kAnotherHostRuns = 3;

  // Asks the running host to end (from any thread); false when there is none.
  static bool RequestStop();

 private:
  bool SetUp();
  void TakeDown();
  void OnNotice(HWND window);
  void OnTick();
  void ScanWindows();
  void LogDiagnosis();
  std::vector<HWND> TaskWindows() const;

  Options options_;
  std::optional<HostInstance> instance_;  // declared first: given up last
  UniqueWindow main_window_;
  std::unique_ptr<shell::ShellChain> shell_;
  IconHook hook_;
  AssistantSupervisor assistant_;
  TaskBarWindow bar_;
  ULONGLONG deadline_ = 0;
  ULONGLONG next_scan_ = 0;
  ULONGLONG last_tick_ = 0;
  ULONGLONG next_usage_ = 0;   // its own private memory goes into the log every 10 s
  ULONGLONG diagnose_at_ = 0;  // 0: no diagnosis due
  unsigned notices_ = 0;
  unsigned resolved_ = 0;
};

}  // namespace quillon::standin
