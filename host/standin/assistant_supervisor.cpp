#include "host/standin/assistant_supervisor.h"

#include "host/standin/log.h"

namespace quillon::standin {
namespace {

// After this many requests in a row that Sidecar64 left unanswered it counts as hung.
constexpr unsigned kHungAfterTimeouts = 3;

}  // namespace

AssistantSupervisor::AssistantSupervisor(std::wstring exe_path, DWORD timeout_ms)
    : exe_path_(std::move(exe_path)), client_(process_, timeout_ms) {}

bool AssistantSupervisor::Start() {
  // One that is not ours would answer beside ours, and would not end while this host runs.
  if (!process_.Running()) {
    const unsigned leftovers = EndLeftoverAssistants();
    if (leftovers > 0) {
      LogLine(L"assistant  ended " + std::to_wstring(leftovers) +
              L" Sidecar64 left running by an earlier host");
    }
  }
  const StartResult started = process_.Start(exe_path_);
  if (!started) {
    const char* reason = quillon::Describe(started.status);
    LogLine(L"assistant  could not start " + exe_path_ + L": " +
            std::wstring(reason, reason + std::char_traits<char>::length(reason)) + L" (error " +
            std::to_wstring(started.system_error) + L")");
    process_.Terminate();
    return false;
  }
  LogLine(L"assistant  started " + exe_path_ + L" (process " +
          std::to_wstring(process_.ProcessId()) + L")");
  lost_ = false;
  timeouts_in_a_row_ = 0;
  return true;
}

void AssistantSupervisor::ReportLoss(const wchar_t* how) {
  if (lost_) return;
  lost_ = true;
  std::wstring line = L"assistant  Sidecar64 ";
  line += how;
  const DWORD code = process_.ExitCode();
  if (code != STILL_ACTIVE) line += L" (exit code " + std::to_wstring(code) + L")";
  line += L"; it will be started again with the next request";
  LogLine(line);
}

void AssistantSupervisor::Check() {
  if (!lost_ && !process_.Running()) ReportLoss(L"has ended");
}

std::wstring AssistantSupervisor::Describe(HWND target, bool& resolved) {
  resolved = false;
  if (lost_ || !process_.Running()) {
    Check();
    process_.Terminate();
    if (!Start()) return L"(not available: Sidecar64 cannot be started)";
    ++restarts_;
  }
  std::wstring path;
  const RequestStatus status = client_.GetPath(target, path);
  switch (status) {
    case RequestStatus::kResolved:
      timeouts_in_a_row_ = 0;
      resolved = true;
      return path;
    case RequestStatus::kNotAvailable:
      timeouts_in_a_row_ = 0;
      return L"(not available)";
    case RequestStatus::kNoAssistant:
    case RequestStatus::kAssistantGone:
      ReportLoss(L"is gone");
      break;
    case RequestStatus::kTimedOut:
    case RequestStatus::kBusy:
      if (++timeouts_in_a_row_ >= kHungAfterTimeouts) {
        ReportLoss(L"does not answer any more and was ended");
        process_.Terminate();
      }
      break;
    default:
      break;
  }
  const char* reason = quillon::Describe(status);
  return L"(not available: " +
         std::wstring(reason, reason + std::char_traits<char>::length(reason)) + L")";
}

void AssistantSupervisor::Stop() {
  if (!process_.Running()) return;
  const RequestStatus status = client_.SendExit();
  if (status == RequestStatus::kDelivered && process_.WaitForExit(5000)) {
    LogLine(L"assistant  ended on \"Exit\" (exit code " + std::to_wstring(process_.ExitCode()) +
            L")");
    return;
  }
  process_.Terminate();
  LogLine(L"assistant  did not end on \"Exit\"; ended by force");
}

}  // namespace quillon::standin
