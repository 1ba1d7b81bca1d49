#include "tests/soak/programs.h"

#include "tests/soak/narrow.h"

namespace quillon::soak {

std::vector<ProgramSetup> WinePrograms() {
  std::vector<ProgramSetup> programs;
  for (const wchar_t* name : {L"notepad", L"winemine", L"clock", L"taskmgr", L"winefile"}) {
    for (const wchar_t* folder : {L"syswow64", L"system32"}) {
      const std::wstring width = std::wstring(folder) == L"syswow64" ? L" (32-bit)" : L" (64-bit)";
      programs.push_back({name + width,
                          std::wstring(L"C:\\windows\\") + folder + L"\\" + name + L".exe", L"",
                          false, 1});
    }
  }
  return programs;
}

Program::Program(ProgramSetup setup, std::wstring log_folder)
    : setup_(std::move(setup)), log_folder_(std::move(log_folder)) {}

void Program::Fault(Faults& faults, const std::string& what) const {
  faults.lines.push_back(Narrow(setup_.name) + " (process " + std::to_string(process_.ProcessId()) +
                         "): " + what);
}

bool Program::Start(ULONGLONG now, Faults& faults) {
  if (state_ != State::kStopped) return false;
  std::wstring log;
  if (setup_.flipper) {
    log = log_folder_ + L"\\" + setup_.name + L"-" + std::to_wstring(starts_ + 1) + L".log";
  }
  ++starts_;
  if (!process_.Start(setup_.path, setup_.arguments, log)) {
    Fault(faults, "could not be started");
    return false;
  }
  log_ = setup_.flipper ? std::make_unique<LogTail>(log) : nullptr;
  flipper_windows_.clear();
  rounds_.clear();
  state_ = State::kStarting;
  since_ = now;
  windows_.clear();
  return true;
}

void Program::Close(ULONGLONG now) {
  if (state_ != State::kRunning) return;
  for (HWND window : process_.VisibleWindows()) ::PostMessageW(window, WM_CLOSE, 0, 0);
  state_ = State::kClosing;
  since_ = now;
}

void Program::ReadFlipperLog(Faults& faults) {
  if (!log_) return;
  const ULONGLONG now = ::GetTickCount64();
  for (const std::string& line : log_->NewLines()) {
    if (line.rfind("flipper: fault", 0) == 0) Fault(faults, line);
    if (line.rfind("flipper: round ", 0) == 0) rounds_.push_back(now);
  }
}

void Program::Poll(ULONGLONG now, Faults& faults) {
  ReadFlipperLog(faults);
  switch (state_) {
    case State::kStopped:
      return;
    case State::kStarting:
      if (!process_.Running()) {
        Fault(faults,
              "ended before it showed a window, exit code " + std::to_string(process_.ExitCode()));
        state_ = State::kStopped;
      } else if ((windows_ = process_.VisibleWindows()).size() >= setup_.windows) {
        state_ = State::kRunning;
        if (setup_.flipper) flipper_windows_ = windows_;
        windows_read_ = now;
      } else if (now - since_ > kShowLimitMs) {
        Fault(faults, "showed no window within " + SecondsText(kShowLimitMs));
        process_.Kill(1);
        state_ = State::kStopped;
      }
      return;
    case State::kRunning:
      if (!process_.Running()) {
        Fault(faults, "ended by itself, exit code " + std::to_string(process_.ExitCode()));
        windows_.clear();
        state_ = State::kStopped;
      } else if (now - windows_read_ >= kWindowRefreshMs) {
        windows_ = process_.VisibleWindows();
        windows_read_ = now;
      }
      return;
    case State::kClosing:
      if (!process_.Running()) {
        ReadFlipperLog(faults);
        if (process_.ExitCode() != 0) {
          Fault(faults, "closed with exit code " + std::to_string(process_.ExitCode()));
        }
        ++closes_;
        windows_.clear();
        state_ = State::kStopped;
      } else if (now - since_ > kCloseLimitMs) {
        Fault(faults, "did not end within " + SecondsText(kCloseLimitMs) + " of WM_CLOSE");
        process_.Kill(1);
        windows_.clear();
        state_ = State::kStopped;
      }
      return;
  }
}

void Program::Kill() {
  process_.Kill(1);
  windows_.clear();
  state_ = State::kStopped;
}

unsigned Program::RoundsBetween(ULONGLONG from, ULONGLONG to) const {
  unsigned count = 0;
  for (ULONGLONG at : rounds_) {
    if (at >= from && at <= to) ++count;
  }
  return count;
}

}  // namespace quillon::soak
