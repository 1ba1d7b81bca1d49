#include "host/standin/standin_host.h"

#include <atomic>
#include <string>
#include <vector>

#include "host/client/win32_assistant_process.h"
#include "host/client/win32_diagnosis.h"
#include "host/client/win32_liveness.h"
#include "host/contract.h"
#include "host/standin/log.h"
#include "host/standin/own_usage.h"

namespace quillon::standin {
namespace {

constexpr wchar_t kMainClass[] = L"QuillonStandinMain";
constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickMs = 250;
constexpr ULONGLONG kUsageEveryMs = 10000;

std::atomic<HWND> g_running_main{nullptr};

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

HWND CreateMainWindow() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &MainProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kMainClass;
  if (::RegisterClassExW(&wc) == 0) return nullptr;
  HWND window = ::CreateWindowExW(0, kMainClass, L"Quillon stand-in", WS_OVERLAPPEDWINDOW, 0, 0,
                                  320, 120, nullptr, nullptr, wc.hInstance, nullptr);
  if (window != nullptr) ::ShowWindow(window, SW_SHOWNOACTIVATE);
  return window;
}

std::wstring TitleOf(HWND window) {
  wchar_t title[128] = {};
  ::GetWindowTextW(window, title, 128);
  return title;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

std::wstring BesideProgram(const std::wstring& given, const wchar_t* file) {
  return given.empty() ? ModuleFolder() + file : given;
}

}  // namespace

StandinHost::StandinHost(Options options)
    : options_(std::move(options)),
      assistant_(BesideProgram(options_.assistant, contract::AssistantFile<wchar_t>),
                 options_.timeout_ms) {}

StandinHost::~StandinHost() { TakeDown(); }

bool StandinHost::RequestStop() {
  HWND main = g_running_main.load();
  return main != nullptr && ::PostMessageW(main, WM_CLOSE, 0, 0);
}

bool StandinHost::SetUp() {
  main_window_.Reset(CreateMainWindow());
  if (!main_window_) {
    LogLine(L"host       cannot create the main window");
    return false;
  }
  instance_->PublishMainWindow(main_window_.Get());
  shell::ShellChainOptions chain;
  chain.dialogTitle = contract::DialogTitle<wchar_t>;
  shell_ = shell::ShellChain::Create(chain);
  if (!shell_ || shell_->dialog() == nullptr) {
    LogLine(L"host       cannot create the task bar chain and the dialog");
    return false;
  }
  LogLine(L"host       main window " + HandleText(main_window_.Get()) + L", dialog \"" +
          contract::DialogTitle<wchar_t> + L"\" " + HandleText(shell_->dialog()));
  if (!bar_.Create()) {
    LogLine(L"host       cannot create the task bar window");
    return false;
  }
  bar_.LogLayout();

  // The liveness value comes first: a companion that starts reads it within 10 seconds.
  if (!WriteLivenessValue(main_window_.Get())) {
    LogLine(L"host       cannot write the liveness value");
    return false;
  }
  LogLine(L"host       \"Handle\" = " + LivenessText(main_window_.Get()) + L" in " +
          HostSettingsPath(contract::HookSettingsFile<wchar_t>) + L" and " +
          contract::AssistantSettingsFile<wchar_t>);

  const std::wstring library =
      BesideProgram(options_.hook_library, contract::HookLibraryFile<wchar_t>);
  const HookStatus hooked = hook_.Install(shell_->dialog(), library);
  if (hooked != HookStatus::kInstalled) {
    const char* reason = Describe(hooked);
    LogLine(L"host       hook not installed from " + library + L": " +
            std::wstring(reason, reason + std::char_traits<char>::length(reason)));
    return false;
  }
  LogLine(L"host       hook " + HandleText(reinterpret_cast<HWND>(hook_.Hook())) +
          L" installed for all threads from " + library);

  if (assistant_.Start()) {
    // Sidecar64's own window: the path of a 64-bit process, which only Sidecar64 can tell us.
    bool resolved = false;
    HWND own = assistant_.ReceiveWindow();
    const std::wstring path = assistant_.Describe(own, resolved);
    if (resolved) ++resolved_;
    LogLine(L"path       window " + HandleText(own) + L"  " + path + L"  [Sidecar64 itself]");
  }
  return true;
}

void StandinHost::TakeDown() {
  g_running_main.store(nullptr);
  if (!main_window_ && !shell_) return;
  assistant_.Stop();
  hook_.Remove();
  ClearLivenessValue();
  bar_.Destroy();
  shell_.reset();
  main_window_.Reset();
  LogLine(L"host       stopped: hook removed, \"Handle\" cleared");
}

int StandinHost::Run() {
  // Before anything is touched: a second host would take "Handle" and Sidecar64 from the first.
  instance_.emplace(HostInstance::Claim());
  if (!instance_->Claimed()) {
    const HostHolder other = instance_->Holder();
    const char* reason = quillon::Describe(instance_->Status());
    LogLine(L"host       not started: " +
            std::wstring(reason, reason + std::char_traits<char>::length(reason)) + L" (process " +
            std::to_wstring(other.process_id) + L", main window " + HandleText(other.main_window) +
            L"); nothing touched");
    return kAnotherHostRuns;
  }
  if (!SetUp()) {
    TakeDown();
    return 1;
  }
  const ULONGLONG now = ::GetTickCount64();
  if (options_.seconds != 0) deadline_ = now + options_.seconds * 1000ull;
  next_scan_ = now;
  next_usage_ = now + kUsageEveryMs;
  if (options_.diagnose_after_ms != 0) diagnose_at_ = now + options_.diagnose_after_ms;
  ::SetTimer(main_window_.Get(), kTickTimer, kTickMs, nullptr);
  g_running_main.store(main_window_.Get());
  LogLine(L"host       running" + (options_.seconds != 0
                                       ? L" for " + std::to_wstring(options_.seconds) + L" s"
                                       : std::wstring(L" until closed")));

  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // Once the main window is gone the host is ending: WM_QUIT comes only when no other posted
    // message waits, so a steady stream of notices would keep it here, serving them (and
    // starting Sidecar64 again once that has seen the dead handle and ended) instead of ending.
    if (!::IsWindow(main_window_.Get())) break;
    // The notice is posted, so it comes through here; it is not a real paint request.
    if (msg.hwnd == shell_->dialog() && msg.message == contract::kNoticeMessage &&
        msg.lParam == contract::kNoticeLParam) {
      OnNotice(reinterpret_cast<HWND>(msg.wParam));
      // WM_TIMER too comes only when no posted message waits: while notices keep coming, the
      // tick (stop file, time limit, Sidecar64's check, the window list) is due by the clock.
      if (::GetTickCount64() - last_tick_ >= kTickMs) OnTick();
      continue;
    }
    if (msg.hwnd == main_window_.Get() && msg.message == WM_TIMER && msg.wParam == kTickTimer) {
      OnTick();
      continue;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  g_running_main.store(nullptr);
  // Normally the main window is gone by now (closed, time limit or Ctrl+C).
  if (!::IsWindow(main_window_.Get())) main_window_.Release();
  LogLine(L"host       ending: " + std::to_wstring(notices_) + L" notices, " +
          std::to_wstring(resolved_) + L" paths resolved, Sidecar64 restarted " +
          std::to_wstring(assistant_.Restarts()) + L" times");
  TakeDown();
  return 0;
}

void StandinHost::OnNotice(HWND window) {
  ++notices_;
  bool resolved = false;
  const std::wstring path = assistant_.Describe(window, resolved);
  if (resolved) ++resolved_;
  LogLine(L"notice     window " + HandleText(window) + L"  " + path);
  // What a task bar does with a notice and its reply: the button shows the new icon at once.
  if (bar_.SetProgram(window, path, resolved)) bar_.LogLayout();
  bar_.OnIconChanged(window);
}

void StandinHost::OnTick() {
  const ULONGLONG now = ::GetTickCount64();
  last_tick_ = now;
  if (deadline_ != 0 && now >= deadline_) {
    LogLine(L"host       time limit reached");
    ::DestroyWindow(main_window_.Get());
    return;
  }
  if (!options_.stop_file.empty() &&
      ::GetFileAttributesW(options_.stop_file.c_str()) != INVALID_FILE_ATTRIBUTES) {
    LogLine(L"host       stop file found");
    ::DestroyWindow(main_window_.Get());
    return;
  }
  assistant_.Check();
  if (options_.scan_ms != 0 && now >= next_scan_) {
    next_scan_ = now + options_.scan_ms;
    ScanWindows();
  }
  if (now >= next_usage_) {
    next_usage_ = now + kUsageEveryMs;
    LogLine(L"usage      private " + std::to_wstring(OwnPrivateBytes()) + L" bytes");
  }
  if (diagnose_at_ != 0 && now >= diagnose_at_) {
    diagnose_at_ = 0;
    LogDiagnosis();
  }
}

// The diagnosis as the host sees it: its own window and hook, the library beside it.
void StandinHost::LogDiagnosis() {
  DiagnoseOptions ask;
  const std::wstring library =
      BesideProgram(options_.hook_library, contract::HookLibraryFile<wchar_t>);
  ask.install_folder = library.substr(0, library.find_last_of(L"\\/") + 1);
  ask.host_window = reinterpret_cast<WindowId>(main_window_.Get());
  ask.own_hook = reinterpret_cast<HookRef>(hook_.Hook());
  const std::string report = FormatText(Diagnose(ask));
  std::size_t start = 0;
  while (start < report.size()) {
    const std::size_t end = report.find('\n', start);
    const std::string line = report.substr(start, end == std::string::npos ? end : end - start);
    start = end == std::string::npos ? report.size() : end + 1;
    if (line.empty()) continue;
    const int units =
        ::MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), wide.data(),
                          units);
    LogLine(L"diagnosis  " + wide);
  }
}

// The windows a task bar shows: visible, titled top-level windows of other processes.
std::vector<HWND> StandinHost::TaskWindows() const {
  std::vector<HWND> windows;
  ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&windows));
  const DWORD self = ::GetCurrentProcessId();
  std::vector<HWND> shown;
  for (HWND window : windows) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != self && ::IsWindowVisible(window) && !TitleOf(window).empty()) {
      shown.push_back(window);
    }
  }
  return shown;
}

// Gives each new task window a button and logs it once with its program (for 64-bit programs
// only Sidecar64 can tell); drops the buttons of windows that have gone.
void StandinHost::ScanWindows() {
  const TaskButtonList::Changes changes = bar_.Sync(TaskWindows());
  for (WindowId id : changes.removed) {
    LogLine(L"gone       window " + HandleText(reinterpret_cast<HWND>(id)));
  }
  for (WindowId id : changes.added) {
    const HWND window = reinterpret_cast<HWND>(id);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    bool resolved = false;
    const std::wstring path = assistant_.Describe(window, resolved);
    if (resolved) ++resolved_;
    bar_.SetProgram(window, path, resolved);
    LogLine(L"window     window " + HandleText(window) + L"  " + path + L"  \"" + TitleOf(window) +
            L"\"  process " + std::to_wstring(owner));
  }
  if (changes.any()) bar_.LogLayout();
}

}  // namespace quillon::standin
