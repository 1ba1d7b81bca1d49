// The soak's course: start everything, run the schedule, end everything. The checks are in
// soak_checks.cpp, the report in soak_report.cpp.
#include "tests/soak/soak.h"

#include <cstdio>

#include "host/client/win32_assistant_process.h"
#include "host/contract.h"
#include "tests/soak/leftovers.h"
#include "tests/soak/narrow.h"
#include "tests/support/settings_files.h"

namespace quillon::soak {
namespace {

constexpr unsigned kRequestTimeoutMs = 5000;
constexpr ULONGLONG kStepMs = 100;
constexpr ULONGLONG kHostEndLimitMs = 20000;
constexpr ULONGLONG kAllShownLimitMs = 90000;
constexpr ULONGLONG kMidRequestWaitMs = 3000;
// The programs that run from the start: three of each width, and both flippers.
constexpr std::size_t kInitialWinePrograms = 6;

std::wstring FullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH];
  const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  return length > 0 && length < MAX_PATH ? std::wstring(full, length) : path;
}

}  // namespace

Soak::Soak(SoakConfig config)
    : config_(std::move(config)),
      host_exe_(FullPath(config_.dist + L"\\QuillonStandin.exe")),
      sidecar_exe_(FullPath(config_.dist + L"\\" + contract::AssistantFile<wchar_t>)),
      flipper_exe_(FullPath(config_.dist + L"\\QuillonIconFlipper.exe")),
      requests_(kRequestTimeoutMs) {
  for (ProgramSetup& setup : WinePrograms()) {
    programs_.push_back(std::make_unique<Program>(std::move(setup), config_.out));
  }
  // Two windows each, new icons every 1.5 s, each change sent by the window's own thread.
  const std::wstring flipper_arguments = L"--seconds 99999 --windows 2 --period-ms 1500";
  programs_.push_back(std::make_unique<Program>(
      ProgramSetup{L"flipper-B", flipper_exe_, flipper_arguments, true, 2}, config_.out));
  programs_.push_back(std::make_unique<Program>(
      ProgramSetup{L"flipper-A", flipper_exe_, flipper_arguments, true, 2}, config_.out));
  ScheduleShape shape;
  shape.run_ms = config_.minutes * 60000u;
  shape.programs = static_cast<std::uint32_t>(programs_.size() - 1);  // flipper-A stays
  schedule_ = MakeSchedule(config_.seed, shape);
  run_end_ms_ = RunEndMs(schedule_, shape.run_ms);
}

Soak::~Soak() {
  requests_.Stop();
  if (host_) host_->Kill();
  for (auto& program : programs_) program->Kill();
}

ULONGLONG Soak::Elapsed() const { return began_ == 0 ? 0 : ::GetTickCount64() - began_; }

bool Soak::StopRequested() const {
  return !config_.stop_file.empty() &&
         ::GetFileAttributesW(config_.stop_file.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<Program*> Soak::Flippers() {
  std::vector<Program*> flippers;
  for (auto& program : programs_) {
    if (program->setup().flipper) flippers.push_back(program.get());
  }
  return flippers;
}

int Soak::Run() {
  std::printf("soak: seed %llu, %u minutes (the schedule runs %.1f s)\n",
              static_cast<unsigned long long>(config_.seed), config_.minutes, run_end_ms_ / 1000.0);
  std::printf("soak: programs:");
  for (std::size_t i = 0; i < programs_.size(); ++i) {
    std::printf("%s %zu=%s", i == 0 ? "" : ",", i, Narrow(programs_[i]->setup().name).c_str());
  }
  std::printf(" (the last one is never closed)\nsoak: schedule\n");
  for (const Event& event : schedule_) std::printf("  %s\n", Describe(event).c_str());
  std::fflush(stdout);

  if (!Begin()) {
    Summary();
    return 3;
  }
  while (!StopRequested()) {
    Step();
    if (next_event_ >= schedule_.size() && host_back_at_ == 0 && Elapsed() >= run_end_ms_) break;
    ::Sleep(static_cast<DWORD>(kStepMs));
  }
  interrupted_ = StopRequested();
  if (interrupted_) {
    std::printf("soak: stop requested at %.1f s\n", Seconds());
  } else if (next_event_ < schedule_.size()) {
    Lost(std::to_string(schedule_.size() - next_event_) + " events of the schedule never ran");
  }
  Finish();
  Summary();
  if (lost_ + faults_ > 0) return 1;
  return interrupted_ ? 2 : 0;
}

bool Soak::Begin() {
  places_before_ = WrittenPlaces();
  std::printf("soak: starting %zu programs and both flippers\n", kInitialWinePrograms);
  std::fflush(stdout);
  const ULONGLONG start = ::GetTickCount64();
  for (std::size_t i = 0; i < programs_.size(); ++i) {
    if (i < kInitialWinePrograms || programs_[i]->setup().flipper) {
      Program::Faults faults;
      programs_[i]->Start(start, faults);
      for (const std::string& line : faults.lines) Fault(line);
    }
  }
  for (;;) {
    PollPrograms();
    bool all = true;
    for (auto& program : programs_) all = all && program->state() != Program::State::kStarting;
    if (all) break;
    if (::GetTickCount64() - start > kAllShownLimitMs || StopRequested()) {
      Fault("the programs did not all show a window within " + SecondsText(kAllShownLimitMs));
      return false;
    }
    ::Sleep(static_cast<DWORD>(kStepMs));
  }
  std::printf("soak: programs up after %.1f s\n",
              static_cast<double>(::GetTickCount64() - start) / 1000.0);
  if (!requests_.Start()) {
    Fault("the request thread could not be started");
    return false;
  }
  began_ = ::GetTickCount64();
  StartHost();
  return true;
}

void Soak::Step() {
  const ULONGLONG now = ::GetTickCount64();
  PollHost();
  PollPrograms();
  if (host_back_at_ != 0 && now >= host_back_at_) StartHost();
  if (next_event_ < schedule_.size() && Elapsed() >= schedule_[next_event_].at_ms) {
    if (TryEvent(schedule_[next_event_])) {
      ++next_event_;
      event_announced_ = false;
    }
  }
  CheckNotices();
  CheckSidecarRecovery();
  if (now - last_stray_check_ >= 2000) {
    last_stray_check_ = now;
    CheckStraySidecars(false);
  }
  if (now - last_targets_ >= 1000) {
    last_targets_ = now;
    UpdateTargets();
    CheckRequests();
  }
  if (now - last_usage_ >= 5000) {
    last_usage_ = now;
    SampleUsage();
  }
  if (now - last_progress_ >= 15000) {
    last_progress_ = now;
    Progress();
  }
}

// False while the event has to wait: a host end or a Sidecar64 kill needs a running host.
bool Soak::TryEvent(const Event& event) {
  if (!event_announced_) {
    std::printf("[%7.1f s] due: %s\n", Seconds(), Describe(event).c_str());
    event_announced_ = true;
  }
  switch (event.action) {
    case Action::kHostEnd:
    case Action::kHostKill:
      // Not before the host has been heard from by every flipper (or has failed to be).
      if (!host_ || !host_->running() || host_ended_ || !expectations_.empty()) return false;
      EndHost(event.action == Action::kHostEnd);
      host_back_at_ = ::GetTickCount64() + event.gap_ms;
      return true;
    case Action::kSidecarKill:
      return KillSidecar(event.mid_request);
    case Action::kToggle:
      Toggle(event.program);
      return true;
  }
  return true;
}

void Soak::StartHost() {
  host_back_at_ = 0;
  host_ = std::make_unique<HostRun>(++host_lives_, host_exe_, config_.out);
  kills_unreported_ = 0;
  expectations_.clear();
  expected_windows_.clear();
  last_notice_.clear();
  notice_times_.clear();
  host_running_at_ = 0;
  host_ended_ = false;
  std::printf("[%7.1f s] host #%u starting\n", Seconds(), host_lives_);
  if (!host_->Start()) Fault("host #" + std::to_string(host_lives_) + " could not be started");
}

void Soak::EndHost(bool clean) {
  PollHost();  // the notices it logged before it ends still count
  CountNotices(::GetTickCount64());
  host_ended_ = true;
  if (!clean) {
    host_->Kill();
    ++host_kills_;
    std::printf("[%7.1f s] host #%u killed\n", Seconds(), host_->number());
  } else {
    host_->RequestEnd();
    const bool ended = host_->process().WaitForExit(static_cast<DWORD>(kHostEndLimitMs));
    PollHost();
    ++clean_ends_;
    const DWORD code = host_->process().ExitCode();
    if (!ended) {
      Fault("host #" + std::to_string(host_->number()) + " did not end within " +
            SecondsText(kHostEndLimitMs) + " of its stop file");
      host_->Kill();
    } else if (code != 0 || !host_->stopped_cleanly()) {
      Fault("host #" + std::to_string(host_->number()) + " ended with exit code " +
            std::to_string(code) + (host_->stopped_cleanly() ? "" : " without its clean-up"));
    }
    std::printf("[%7.1f s] host #%u ended, exit code %lu\n", Seconds(), host_->number(),
                static_cast<unsigned long>(code));
  }
  // Expectations the host can no longer meet are dropped, not lost: it had its time.
  notices_dropped_ += static_cast<unsigned>(expectations_.size());
  expectations_.clear();
  expected_windows_.clear();
  final_end_clean_ = clean;
}

bool Soak::KillSidecar(bool mid_request) {
  if (!host_ || !host_->running() || host_->sidecar_process() == 0) return false;
  const DWORD pid = host_->sidecar_process();
  const UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
  // Not running (the host starts it again with its next request): wait for that.
  if (!process || ::WaitForSingleObject(process.Get(), 0) != WAIT_TIMEOUT) return false;
  if (mid_request) {
    const ULONGLONG until = ::GetTickCount64() + kMidRequestWaitMs;
    while (!requests_.InFlight() && ::GetTickCount64() < until) ::Sleep(1);
  }
  const bool during = requests_.InFlight();
  ::TerminateProcess(process.Get(), 1);
  ::WaitForSingleObject(process.Get(), 10000);
  ++sidecar_kills_;
  if (during) ++sidecar_kills_mid_request_;
  ++kills_unreported_;
  last_kill_at_ = ::GetTickCount64();
  awaiting_recovery_ = true;
  sidecar_back_at_ = 0;
  std::printf("[%7.1f s] Sidecar64 (process %lu) killed%s\n", Seconds(),
              static_cast<unsigned long>(pid), during ? " during a request" : "");
  return true;
}

void Soak::Toggle(std::uint32_t index) {
  Program& program = *programs_.at(index);
  const ULONGLONG now = ::GetTickCount64();
  switch (program.state()) {
    case Program::State::kRunning:
      std::printf("[%7.1f s] closing %s\n", Seconds(), Narrow(program.setup().name).c_str());
      program.Close(now);
      break;
    case Program::State::kStopped: {
      std::printf("[%7.1f s] starting %s\n", Seconds(), Narrow(program.setup().name).c_str());
      Program::Faults faults;
      program.Start(now, faults);
      for (const std::string& line : faults.lines) Fault(line);
      break;
    }
    default:
      std::printf("[%7.1f s] %s is still starting or closing: left alone\n", Seconds(),
                  Narrow(program.setup().name).c_str());
      break;
  }
}

void Soak::Finish() {
  std::printf("[%7.1f s] final: the host ends cleanly, then every program closes\n", Seconds());
  std::fflush(stdout);
  host_back_at_ = 0;
  if (host_ && host_->process().Running()) {
    // The last host too is heard from by every flipper (or fails to be) before it ends, unless
    // the soak was asked to stop: then what is still awaited counts as dropped.
    const ULONGLONG until = ::GetTickCount64() + kHostStartLimitMs;
    while (host_->process().Running() && ::GetTickCount64() < until &&
           (!host_->running() || (!expectations_.empty() && !interrupted_))) {
      PollHost();
      PollPrograms();
      CheckNotices();
      ::Sleep(static_cast<DWORD>(kStepMs));
    }
    EndHost(true);
  }
  PollPrograms();
  FinalLeftoverChecks();
  requests_.Stop();
  CheckRequests();
  const ULONGLONG now = ::GetTickCount64();
  for (auto& program : programs_) program->Close(now);
  for (bool open = true; open;) {
    PollPrograms();
    open = false;
    for (auto& program : programs_) open = open || program->state() != Program::State::kStopped;
    if (open) ::Sleep(static_cast<DWORD>(kStepMs));
  }
  for (const std::wstring& place : WrittenPlaces()) {
    if (places_before_.count(place) != 0) continue;
    // The host's settings files stay by design, their "Handle" empty (checked above).
    const std::wstring name = place.substr(place.find_last_of(L'\\') + 1);
    if (place == test::FirmFolder() || place == test::AppFolder() ||
        name == contract::HookSettingsFile<wchar_t> ||
        name == contract::AssistantSettingsFile<wchar_t>) {
      continue;
    }
    leftovers_.push_back(Narrow(place));
  }
  for (const std::string& place : leftovers_) Lost("left behind: " + place);
  for (const UsageTrack* track : {&host_usage_, &sidecar_usage_}) {
    if (!track->Flat()) Lost("not flat within its bounds: " + track->Report());
  }
}

}  // namespace quillon::soak
