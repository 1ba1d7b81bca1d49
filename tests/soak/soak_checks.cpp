// What the soak checks while it runs and at its end.
#include <algorithm>
#include <cstdio>

#include "host/client/win32_assistant_process.h"
#include "host/contract.h"
#include "tests/soak/leftovers.h"
#include "tests/soak/narrow.h"
#include "tests/soak/soak.h"

namespace quillon::soak {
namespace {

// A flipper changes its icons every 1.5 s; these leave room for a loaded machine and for a host
// that is busy starting Sidecar64 again (up to 10 s).
constexpr ULONGLONG kFirstNoticeLimitMs = 20000;
constexpr ULONGLONG kNoticeGapLimitMs = 30000;
constexpr ULONGLONG kSidecarBackLimitMs = 30000;
// Sidecar64 checks the liveness value every 10 s; one that is not the host's own must be gone
// by then, with room to spare.
constexpr ULONGLONG kStrayAfterMs = 15000;
// Rounds of icon changes this close to a host's start or end may fall either side of it.
constexpr ULONGLONG kCountMarginMs = 3000;
constexpr ULONGLONG kNoticeLagMs = 500;
constexpr ULONGLONG kSidecarSettleMs = 3000;

std::string Hex(HWND window) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(window)));
  return text;
}

HWND AsWindow(std::uint32_t value) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring Widen(const std::string& text) {
  const int size =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) {
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          size);
  }
  return wide;
}

bool IsHooked32Bit(const ProgramSetup& setup) {
  return setup.flipper || setup.path.find(L"\\syswow64\\") != std::wstring::npos;
}

}  // namespace

void Soak::Lost(const std::string& what, std::uint64_t count) {
  lost_ += count;
  std::printf("[%7.1f s] LOST: %s\n", Seconds(), what.c_str());
  std::fflush(stdout);
}

void Soak::Fault(const std::string& what) {
  ++faults_;
  std::printf("[%7.1f s] FAULT: %s\n", Seconds(), what.c_str());
  std::fflush(stdout);
}

std::wstring Soak::ExpectedPathOf(DWORD process_id) const {
  if (process_id == 0) return {};
  for (const auto& program : programs_) {
    if (program->state() != Program::State::kStopped && program->ProcessId() == process_id) {
      return program->setup().path;
    }
  }
  if (host_ && host_->process().ProcessId() == process_id) return host_exe_;
  if (host_ && host_->sidecar_process() == process_id) return sidecar_exe_;
  return {};
}

void Soak::PollHost() {
  if (!host_) return;
  for (const HostLine& line : host_->NewLines()) OnHostLine(line);
  if (host_ended_) return;
  const ULONGLONG now = ::GetTickCount64();
  const std::string name = "host #" + std::to_string(host_->number());
  if (!host_->process().Running()) {
    Fault(name + " ended by itself, exit code " + std::to_string(host_->process().ExitCode()));
    host_ended_ = true;
    host_back_at_ = now + 2000;
  } else if (!host_->running() && host_running_at_ == 0 &&
             now - host_->started_at() > kHostStartLimitMs) {
    Fault(name + " was not running within " + SecondsText(kHostStartLimitMs));
    host_->Kill();
    host_ended_ = true;
    host_back_at_ = now + 2000;
  }
}

void Soak::OnHostLine(const HostLine& line) {
  const ULONGLONG now = ::GetTickCount64();
  const std::string name = "host #" + std::to_string(host_->number());
  switch (line.kind) {
    case HostLineKind::kRunning:
      host_running_at_ = now;
      std::printf("[%7.1f s] %s running (Sidecar64: process %lu)\n", Seconds(), name.c_str(),
                  static_cast<unsigned long>(host_->sidecar_process()));
      ExpectNotices(nullptr);
      return;
    case HostLineKind::kUsage: {
      // Its handles from the system's table; its memory only it can read safely (own_usage.h).
      test::ProcessUsage usage;
      usage.handles = test::CountHandles(host_->process().Handle(), host_->process().ProcessId());
      usage.privateBytes = static_cast<SIZE_T>(line.private_bytes);
      if (usage.handles != 0) host_usage_.Record(usage);
      return;
    }
    case HostLineKind::kSidecarStarted:
      if (awaiting_recovery_ && sidecar_back_at_ == 0) sidecar_back_at_ = now;
      return;
    case HostLineKind::kSidecarLost:
      if (kills_unreported_ > 0) {
        --kills_unreported_;
      } else {
        Lost(name + " lost Sidecar64 that the soak did not kill");
      }
      return;
    case HostLineKind::kNotice:
    case HostLineKind::kWindow: {
      const HWND window = AsWindow(line.window);
      DWORD owner = line.process;
      if (line.kind == HostLineKind::kNotice) {
        ++notices_total_;
        last_notice_[window] = now;
        notice_times_[window].push_back(now);
        for (auto it = expectations_.begin(); it != expectations_.end();) {
          if (it->window == window && it->host == host_->number()) {
            ++notices_received_;
            expected_windows_.erase(window);
            it = expectations_.erase(it);
          } else {
            ++it;
          }
        }
        ::GetWindowThreadProcessId(window, &owner);
      }
      if (!line.resolved) {
        ++host_not_available_;
        return;
      }
      const std::wstring expected = ExpectedPathOf(owner);
      if (expected.empty() || SamePath(Widen(line.answer), expected)) {
        ++host_resolved_;
      } else {
        ++host_wrong_;
        Lost(name + ": window " + Hex(window) + " answered " + line.answer + ", but it is " +
             Narrow(expected) + "'s");
      }
      return;
    }
    default:
      return;
  }
}

void Soak::PollPrograms() {
  const ULONGLONG now = ::GetTickCount64();
  for (auto& program : programs_) {
    const Program::State before = program->state();
    Program::Faults faults;
    program->Poll(now, faults);
    for (const std::string& line : faults.lines) Fault(line);
    if (program->setup().flipper && before != Program::State::kRunning &&
        program->state() == Program::State::kRunning && host_running_at_ != 0 && !host_ended_) {
      for (HWND window : program->windows()) ExpectNotices(window);
    }
  }
}

// Every flipper window (or only `only_window`) must be heard from by the current host.
void Soak::ExpectNotices(HWND only_window) {
  const ULONGLONG deadline = ::GetTickCount64() + kFirstNoticeLimitMs;
  for (Program* flipper : Flippers()) {
    if (flipper->state() != Program::State::kRunning) continue;
    for (HWND window : flipper->windows()) {
      if (only_window != nullptr && window != only_window) continue;
      if (expected_windows_.count(window) != 0) continue;
      expectations_.push_back({host_->number(), window, deadline});
      expected_windows_.insert(window);
      ++notices_expected_;
    }
  }
}

void Soak::CheckNotices() {
  const ULONGLONG now = ::GetTickCount64();
  const bool host_up = host_ && host_->running() && !host_ended_;
  for (auto it = expectations_.begin(); it != expectations_.end();) {
    if (now < it->deadline) {
      ++it;
      continue;
    }
    if (host_up && ::IsWindow(it->window)) {
      Lost("no notice from flipper window " + Hex(it->window) + " reached host #" +
           std::to_string(it->host) + " within " + SecondsText(kFirstNoticeLimitMs));
    } else {
      ++notices_dropped_;  // the window or the host went first
    }
    expected_windows_.erase(it->window);
    it = expectations_.erase(it);
  }
  if (!host_up || host_running_at_ == 0) return;
  // Beyond the first: notices keep coming for every flipper window, all the time.
  for (Program* flipper : Flippers()) {
    if (flipper->state() != Program::State::kRunning) continue;
    for (HWND window : flipper->windows()) {
      const auto last = last_notice_.find(window);
      if (last == last_notice_.end() || now - last->second <= kNoticeGapLimitMs) continue;
      ++notice_gaps_;
      Lost("flipper window " + Hex(window) + ": no notice for " + SecondsText(kNoticeGapLimitMs) +
           " in host #" + std::to_string(host_->number()) + "'s life");
      last->second = now;
    }
  }
}

// Every icon change a flipper made while the host ran reached it: each round is two WM_SETICON
// per window, each worth a notice.
void Soak::CountNotices(ULONGLONG end_at) {
  if (!host_ || host_running_at_ == 0 || host_ended_) return;
  const ULONGLONG from = host_running_at_ + kCountMarginMs;
  if (end_at < from + kCountMarginMs) return;
  const ULONGLONG to = end_at - kCountMarginMs;
  for (Program* flipper : Flippers()) {
    const std::uint64_t expected = 2ull * flipper->RoundsBetween(from, to);
    if (expected == 0) continue;
    for (HWND window : flipper->flipper_windows()) {
      // A round's notices are read a moment after its line: up to half a second is allowed.
      std::uint64_t got = 0;
      for (ULONGLONG at : notice_times_[window]) {
        if (at >= from && at <= to + kNoticeLagMs) ++got;
      }
      changes_expected_ += expected;
      changes_noticed_ += std::min(got, expected);
      notices_counted_ += got;
      if (got < expected) {
        Lost("host #" + std::to_string(host_->number()) + ": flipper window " + Hex(window) +
             " changed its icons " + std::to_string(expected) + " times while the host ran, " +
             std::to_string(got) + " notices reached it");
      }
    }
  }
}

void Soak::CheckSidecarRecovery() {
  if (!awaiting_recovery_) return;
  const RequestTally tally = requests_.Tally();
  if (tally.last_right_at > last_kill_at_) {
    awaiting_recovery_ = false;
    const ULONGLONG took = tally.last_right_at - last_kill_at_;
    if (took > worst_recovery_ms_) worst_recovery_ms_ = took;
    return;
  }
  // The host starts Sidecar64 again with its next request of its own; from then on it answers.
  const ULONGLONG now = ::GetTickCount64();
  if (sidecar_back_at_ != 0 && now - sidecar_back_at_ > kSidecarBackLimitMs) {
    awaiting_recovery_ = false;
    Lost("no right answer within " + SecondsText(kSidecarBackLimitMs) +
         " of the host starting Sidecar64 again after a kill");
  }
}

// Wrong paths, overruns and replies that failed the client's checks, as they come.
void Soak::CheckRequests() {
  const RequestTally now = requests_.Tally();
  if (now.wrong > requests_seen_.wrong) {
    Lost(std::to_string(now.wrong - requests_seen_.wrong) +
             " wrong paths (the first: " + now.first_wrong + ")",
         now.wrong - requests_seen_.wrong);
  }
  if (now.over_limit > requests_seen_.over_limit) {
    Lost(std::to_string(now.over_limit - requests_seen_.over_limit) +
             " requests over their limit (worst so far " + std::to_string(now.worst_ms) + " ms)",
         now.over_limit - requests_seen_.over_limit);
  }
  if (now.bad_reply > requests_seen_.bad_reply) {
    Lost(std::to_string(now.bad_reply - requests_seen_.bad_reply) +
             " requests with only replies that failed the client's checks",
         now.bad_reply - requests_seen_.bad_reply);
  }
  requests_seen_ = now;
}

void Soak::CheckStraySidecars(bool final_check) {
  const ULONGLONG now = ::GetTickCount64();
  const DWORD current = host_ && host_->running() && !host_ended_ ? host_->sidecar_process() : 0;
  const std::vector<DWORD> running = SidecarProcesses();
  std::map<DWORD, ULONGLONG> still;
  for (DWORD pid : running) {
    if (pid == current) continue;
    const auto seen = not_current_since_.find(pid);
    const ULONGLONG since = seen == not_current_since_.end() ? now : seen->second;
    still[pid] = since;
    if ((final_check || now - since > kStrayAfterMs) && strays_.insert(pid).second) {
      Lost("stray Sidecar64 (process " + std::to_string(pid) + ") still running " +
           (final_check ? std::string("after the host's clean end")
                        : std::to_string((now - since) / 1000) +
                              " s after it stopped being the host's own"));
    }
  }
  not_current_since_ = std::move(still);
}

void Soak::UpdateTargets() {
  std::vector<Target> targets;
  for (const auto& program : programs_) {
    if (program->state() != Program::State::kRunning) continue;
    for (HWND window : program->windows()) targets.push_back({window, program->setup().path});
  }
  if (host_ && host_->running() && !host_ended_) {
    if (host_->main_window() != nullptr) targets.push_back({host_->main_window(), host_exe_});
    const HWND sidecar = FindReceiveWindowOf(host_->sidecar_process());
    if (sidecar != nullptr) targets.push_back({sidecar, sidecar_exe_});
  }
  requests_.SetTargets(std::move(targets));
}

void Soak::SampleUsage() {
  if (!host_ || !host_->running() || host_ended_) return;
  const ULONGLONG now = ::GetTickCount64();
  // Read once it has settled (its first request answered). The host's figures come from its log.
  const DWORD sidecar = host_->sidecar_process();
  if (sidecar != sidecar_current_) {
    sidecar_current_ = sidecar;
    sidecar_current_since_ = now;
  } else if (sidecar != 0 && now - sidecar_current_since_ >= kSidecarSettleMs) {
    sidecar_usage_.Sample(sidecar);  // fails only when it was just killed
  }
}

void Soak::FinalLeftoverChecks() {
  // After a clean end Sidecar64 ends on "Exit"; any other one sees the empty "Handle" within 10 s.
  const ULONGLONG until = ::GetTickCount64() + kStrayAfterMs;
  while (!SidecarProcesses().empty() && ::GetTickCount64() < until) ::Sleep(250);
  CheckStraySidecars(true);
  for (DWORD pid : SidecarProcesses()) {
    const UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, pid));
    if (process) ::TerminateProcess(process.Get(), 1);
  }
  if (final_end_clean_) {
    for (const wchar_t* file :
         {contract::HookSettingsFile<wchar_t>, contract::AssistantSettingsFile<wchar_t>}) {
      const std::wstring value = LivenessValueIn(file);
      if (!value.empty()) {
        Lost("\"Handle\" in " + Narrow(file) + " is \"" + Narrow(value) +
             "\" after the host's clean end");
      }
    }
  }
  // The hook library in the programs it was mapped into, once the host has let it go.
  const bool wine = RunningOnWine();
  if (!wine) ::Sleep(2 * contract::kWatchdogPeriodMs + 1000);  // two watchdog ticks
  unsigned hooked = 0, mapped = 0;
  for (const auto& program : programs_) {
    if (program->state() != Program::State::kRunning || !IsHooked32Bit(program->setup())) continue;
    const UniqueKernelHandle process(
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, program->ProcessId()));
    ++hooked;
    if (process && HasHookLibrary(process.Get())) {
      ++mapped;
      if (!wine) Lost("Tallyhook.dll still mapped in " + Narrow(program->setup().name));
    }
  }
  hook_library_note_ = "Tallyhook.dll mapped in " + std::to_string(mapped) + " of " +
                       std::to_string(hooked) + " running 32-bit programs after the host's end" +
                       (wine ? " (Wine never unmaps a library it mapped for a global hook, so "
                               "here this shows nothing about the library leaving)"
                             : " (two watchdog ticks later)");
}

}  // namespace quillon::soak
