#include "tests/soak/host_run.h"

#include <cstdint>

namespace quillon::soak {
namespace {

HWND AsWindow(std::uint32_t value) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
}

}  // namespace

HostRun::HostRun(unsigned number, const std::wstring& exe, const std::wstring& folder)
    : number_(number),
      exe_(exe),
      stop_file_(folder + L"\\host-" + std::to_wstring(number) + L".stop"),
      log_file_(folder + L"\\host-" + std::to_wstring(number) + L".log"),
      log_(log_file_) {}

bool HostRun::Start() {
  ::DeleteFileW(stop_file_.c_str());
  started_at_ = ::GetTickCount64();
  // Lists windows every 2 s like the demo; bounds each request to Sidecar64 at 5 s.
  return process_.Start(
      exe_, L"--scan-ms 2000 --timeout-ms 5000 --stop-file \"" + stop_file_ + L"\"", log_file_);
}

std::vector<HostLine> HostRun::NewLines() {
  std::vector<HostLine> lines;
  for (const std::string& text : log_.NewLines()) {
    HostLine line = ParseHostLine(text);
    switch (line.kind) {
      case HostLineKind::kMainWindow:
        main_window_ = AsWindow(line.window);
        break;
      case HostLineKind::kRunning:
        running_ = true;
        break;
      case HostLineKind::kStopped:
        stopped_ = true;
        running_ = false;
        break;
      case HostLineKind::kSidecarStarted:
        sidecar_process_ = line.process;
        break;
      case HostLineKind::kSidecarWindow:
        sidecar_window_ = AsWindow(line.window);
        break;
      case HostLineKind::kSidecarLost:
        ++sidecar_losses_;
        break;
      default:
        break;
    }
    lines.push_back(std::move(line));
  }
  if (running_ && !process_.Running()) running_ = false;
  return lines;
}

bool HostRun::RequestEnd() {
  const HANDLE file = ::CreateFileW(stop_file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(file);
  return true;
}

void HostRun::Kill() {
  process_.Kill(9);
  running_ = false;
}

}  // namespace quillon::soak
