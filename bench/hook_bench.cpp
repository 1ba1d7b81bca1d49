// What Tallyhook costs a hooked 32-bit process, as ratios measured within one run.
//
// One thread sends messages to its own window (so that the window-procedure-return hook runs on
// it) in three configurations: no hook, a hook whose procedure only calls the next hook (in a DLL
// of its own, bench_trivial_hook.dll, as Tallyhook's is), and Tallyhook's HookProc. Tallyhook is
// loaded after a shell chain with a "Quillon" dialog exists, so its attach finds the dialog and
// HookProc takes its full path. Configurations are interleaved round by round and each figure is
// the median over the rounds.
//
//   hook_overhead_ratio     extra cost per non-WM_SETICON message with Tallyhook, divided by the
//                           extra cost with the trivial hook (target <= 1.05)
//   seticon_notice_ratio    the same for WM_SETICON, where Tallyhook also posts the notice
//   *_ns                    the underlying medians, nanoseconds per message
//
//   hook_bench <Tallyhook.dll> [rounds] [messages per round]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "host/contract.h"
#include "host/shell/shell_chain.h"
#include "host/win32_handles.h"

namespace {

namespace contract = quillon::contract;

constexpr UINT kPlainMessage = WM_USER + 1;

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kPlainMessage) return 1;
  return DefWindowProcW(window, message, wParam, lParam);
}

using quillon::bench::Median;
using quillon::bench::Seconds;

enum Config { kNone, kTrivial, kTallyhook, kConfigs };

class Bench {
 public:
  Bench(HOOKPROC trivial, HMODULE trivialModule, HOOKPROC tallyhook, HMODULE module, HWND target,
        HWND dialog)
      : trivial_(trivial),
        trivialModule_(trivialModule),
        tallyhook_(tallyhook),
        module_(module),
        target_(target),
        dialog_(dialog) {}

  // Nanoseconds per message for `count` sends of `message` under `config`.
  double Time(Config config, UINT message, WPARAM wParam, LPARAM lParam, int count) {
    HHOOK hook = nullptr;
    if (config == kTrivial) {
      hook = SetWindowsHookExW(WH_CALLWNDPROCRET, trivial_, trivialModule_, GetCurrentThreadId());
    } else if (config == kTallyhook) {
      hook = SetWindowsHookExW(WH_CALLWNDPROCRET, tallyhook_, module_, GetCurrentThreadId());
    }
    if (config != kNone && hook == nullptr) {
      std::fprintf(stderr, "hook_bench: SetWindowsHookEx failed\n");
      std::exit(1);
    }
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    for (int i = 0; i < count; ++i) SendMessageW(target_, message, wParam, lParam);
    QueryPerformanceCounter(&to);
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    notices_ += DrainNotices();
    return Seconds(from, to) * 1e9 / count;
  }

  long notices() const { return notices_; }

 private:
  // The notices Tallyhook posted to the dialog, which lives on this thread.
  long DrainNotices() {
    long drained = 0;
    MSG msg;
    while (PeekMessageW(&msg, dialog_, contract::kNoticeMessage, contract::kNoticeMessage,
                        PM_REMOVE)) {
      if (msg.lParam == contract::kNoticeLParam) ++drained;
    }
    return drained;
  }

  HOOKPROC trivial_;
  HMODULE trivialModule_;
  HOOKPROC tallyhook_;
  HMODULE module_;
  HWND target_;
  HWND dialog_;
  long notices_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: hook_bench <Tallyhook.dll> [rounds] [messages per round]\n", stderr);
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 9;
  const int count = argc > 3 ? std::atoi(argv[3]) : 20000;
  const int iconCount = count / 10;

  quillon::shell::ShellChainOptions options;
  options.dialogTitle = contract::DialogTitle<wchar_t>;
  const auto chain = quillon::shell::ShellChain::Create(options);
  if (!chain) return 1;

  // The library path may come as a Linux path (Wine maps / to Z:).
  std::string path = argv[1];
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  const HMODULE module = LoadLibraryA(path.c_str());
  const auto tallyhook = module ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(
                                      GetProcAddress(module, contract::kHookProcName)))
                                : nullptr;
  if (tallyhook == nullptr) {
    std::fprintf(stderr, "hook_bench: cannot load HookProc from %s\n", path.c_str());
    return 1;
  }

  // The trivial hook lives in a DLL beside this program, as Tallyhook's lives in its own.
  const HMODULE trivialModule = LoadLibraryW(L"bench_trivial_hook.dll");
  const auto trivialProc = trivialModule ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(
                                               GetProcAddress(trivialModule, "TrivialHook")))
                                         : nullptr;
  if (trivialProc == nullptr) {
    std::fprintf(stderr, "hook_bench: cannot load bench_trivial_hook.dll\n");
    return 1;
  }

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &TargetProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"QuillonHookBench";
  RegisterClassExW(&wc);
  quillon::UniqueWindow top(CreateWindowExW(0, wc.lpszClassName, L"bench", WS_POPUP, 0, 0, 10, 10,
                                            nullptr, nullptr, wc.hInstance, nullptr));
  // A child window: WM_SETICON on it does not reach the window manager, whose cost would
  // swamp the hook's.
  quillon::UniqueWindow target(CreateWindowExW(0, wc.lpszClassName, L"target", WS_CHILD, 0, 0, 10,
                                               10, top.Get(), nullptr, wc.hInstance, nullptr));
  if (!target) return 1;
  const HICON icon = LoadIconW(nullptr, IDI_APPLICATION);

  Bench bench(trivialProc, trivialModule, tallyhook, module, target.Get(), chain->dialog());
  std::vector<double> plain[kConfigs], seticon[kConfigs];
  bench.Time(kTallyhook, kPlainMessage, 0, 0, count / 10);  // warm-up
  for (int round = 0; round < rounds; ++round) {
    for (int k = 0; k < kConfigs; ++k) {
      const auto config = static_cast<Config>((round + k) % kConfigs);  // rotate the order
      plain[config].push_back(bench.Time(config, kPlainMessage, 0, 0, count));
      seticon[config].push_back(
          bench.Time(config, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon), iconCount));
    }
  }
  const long expectedNotices = static_cast<long>(rounds) * iconCount;

  const double none = Median(plain[kNone]);
  const double trivial = Median(plain[kTrivial]);
  const double tally = Median(plain[kTallyhook]);
  const double iconNone = Median(seticon[kNone]);
  const double iconTrivial = Median(seticon[kTrivial]);
  const double iconTally = Median(seticon[kTallyhook]);

  std::printf("unhooked_send_ns: %.0f\n", none);
  std::printf("trivial_hook_send_ns: %.0f\n", trivial);
  std::printf("tallyhook_send_ns: %.0f\n", tally);
  std::printf("hook_overhead_ratio: %.3f\n", (tally - none) / (trivial - none));
  std::printf("unhooked_seticon_ns: %.0f\n", iconNone);
  std::printf("trivial_hook_seticon_ns: %.0f\n", iconTrivial);
  std::printf("tallyhook_seticon_ns: %.0f\n", iconTally);
  std::printf("seticon_notice_ratio: %.3f\n", (iconTally - iconNone) / (iconTrivial - iconNone));
  std::printf("notices_received: %ld of %ld\n", bench.notices(), expectedNotices);
  return bench.notices() == expectedNotices ? 0 : 1;
}
