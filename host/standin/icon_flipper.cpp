// QuillonIconFlipper: a small 32-bit program whose windows keep changing their icons, each change
// sent by the window's own thread (that is when the window-procedure-return hook runs for it).
// Prints one line per window at start, so that a log reader can match the host's notices, one line
// per round of changes (two WM_SETICON per window), and one line per fault (the hook library runs
// inside it); ends with exit code 3 after any fault.
//   QuillonIconFlipper [--seconds N] [--windows N] [--period-ms N]
#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/standin/fault_watch.h"
#include "host/standin/flipper_icons.h"

namespace {

struct Settings {
  unsigned seconds = 60;
  unsigned windows = 2;
  unsigned period_ms = 1500;
};

bool ParseArgs(Settings& settings) {
  int count = 0;
  LPWSTR* args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  bool ok = args != nullptr;
  for (int i = 1; ok && i + 1 < count; i += 2) {
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(args[i + 1], &end, 10);
    ok = end != args[i + 1] && *end == L'\0' && value > 0 && value < 100000;
    const std::wstring name = args[i];
    if (name == L"--seconds") {
      settings.seconds = static_cast<unsigned>(value);
    } else if (name == L"--windows") {
      settings.windows = static_cast<unsigned>(value);
    } else if (name == L"--period-ms") {
      settings.period_ms = static_cast<unsigned>(value);
    } else {
      ok = false;
    }
  }
  if (args != nullptr && count % 2 == 0) ok = false;  // an option without its value
  ::LocalFree(args);
  return ok;
}

constexpr int kWindowWidth = 220;
constexpr int kWindowHeight = 150;
constexpr int kShownIconSize = 64;
constexpr int kFaultExitCode = 3;

// Reports the faults seen since the last call, from the program's own loop.
void ReportNewFaults(long& reported) {
  const long count = quillon::standin::FaultWatch::Count();
  if (count == reported) return;
  const quillon::standin::FaultRecord latest = quillon::standin::FaultWatch::Latest();
  std::printf("flipper: fault: %ld more, the latest 0x%08lx at %p\n", count - reported,
              static_cast<unsigned long>(latest.code), latest.address);
  std::fflush(stdout);
  reported = count;
}

// Shows the window's current large icon big in its client area, so that each change is plain to
// see on the screen too (a window manager may show no caption icon at all).
void PaintCurrentIcon(HWND window) {
  PAINTSTRUCT paint;
  const HDC dc = ::BeginPaint(window, &paint);
  RECT client;
  ::GetClientRect(window, &client);
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_WINDOW));
  const auto icon = reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_BIG, 0));
  if (icon != nullptr) {
    ::DrawIconEx(dc, (client.right - kShownIconSize) / 2, 12, icon, kShownIconSize, kShownIconSize,
                 0, nullptr, DI_NORMAL);
  }
  wchar_t title[64] = {};
  ::GetWindowTextW(window, title, 64);
  RECT below{client.left, 12 + kShownIconSize + 8, client.right, client.bottom};
  ::SetBkMode(dc, TRANSPARENT);
  ::DrawTextW(dc, title, -1, &below, DT_SINGLELINE | DT_CENTER | DT_TOP | DT_NOPREFIX);
  ::EndPaint(window, &paint);
}

LRESULT CALLBACK FlipperProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CLOSE:
      ::PostQuitMessage(0);
      return 0;
    case WM_PAINT:
      PaintCurrentIcon(window);
      return 0;
    case WM_SETICON: {
      const LRESULT previous = ::DefWindowProcW(window, message, wparam, lparam);
      ::InvalidateRect(window, nullptr, FALSE);
      return previous;
    }
    default:
      return ::DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

int main() {
  const quillon::standin::FaultWatch faults;
  long faults_reported = 0;
  Settings settings;
  if (!ParseArgs(settings)) {
    std::fputs("usage: QuillonIconFlipper [--seconds N] [--windows N] [--period-ms N]\n", stderr);
    return 2;
  }
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &FlipperProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"QuillonIconFlipper";
  if (::RegisterClassExW(&wc) == 0) return 1;

  std::printf("flipper: process %lu\n", ::GetCurrentProcessId());
  std::vector<HWND> windows;
  // Side by side in the lower right corner, just above where a task bar goes.
  const int top = ::GetSystemMetrics(SM_CYSCREEN) - 60 - kWindowHeight;
  const int right = ::GetSystemMetrics(SM_CXSCREEN) - 20;
  for (unsigned i = 0; i < settings.windows; ++i) {
    const std::wstring title = L"Icon flipper " + std::to_wstring(i + 1);
    const int left = right - static_cast<int>(settings.windows - i) * (kWindowWidth + 10);
    HWND window =
        ::CreateWindowExW(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, left, top,
                          kWindowWidth, kWindowHeight, nullptr, nullptr, wc.hInstance, nullptr);
    if (window == nullptr) return 1;
    ::ShowWindow(window, SW_SHOWNOACTIVATE);
    windows.push_back(window);
    std::printf("flipper: window 0x%08x \"%ls\"\n",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(window)), title.c_str());
  }
  std::fflush(stdout);

  // A red disc, a green square, a blue triangle; destroyed only after the windows that show them.
  const auto icons = quillon::standin::MakeFlipperIcons();
  const UINT_PTR timer = ::SetTimer(nullptr, 0, settings.period_ms, nullptr);
  const ULONGLONG deadline = ::GetTickCount64() + settings.seconds * 1000ull;
  unsigned changes = 0;
  MSG msg;
  while (::GetTickCount64() < deadline && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == timer) {
      for (HWND window : windows) {
        const auto& icon = icons[changes % icons.size()];
        ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon.big_icon.Get()));
        ::SendMessageW(window, WM_SETICON, ICON_SMALL,
                       reinterpret_cast<LPARAM>(icon.small_icon.Get()));
      }
      ++changes;
      // One line per round, so that a reader can tell how many notices the round was worth.
      std::printf("flipper: round %u\n", changes);
      std::fflush(stdout);
      ReportNewFaults(faults_reported);
      continue;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  ::KillTimer(nullptr, timer);
  for (HWND window : windows) ::DestroyWindow(window);
  ReportNewFaults(faults_reported);
  std::printf("flipper: %u rounds of icon changes, %ld faults, done\n", changes, faults_reported);
  return faults_reported == 0 ? 0 : kFaultExitCode;
}
