// What a "GetPath" round trip through the shipped Sidecar64 costs, against a floor, and how
// many a second it serves.
//
// The floor is the least any design of the channel would pay: the same two synchronous
// cross-process sends (WM_NULL, then WM_COPYDATA with the same text) to a trivial echo window in
// another process, which sends the text straight back as its reply, plus reading the target's
// image path in process (OpenProcess, QueryFullProcessImageNameW, CloseHandle). Full requests and
// floor requests take turns one by one; each time is the median of the single requests.
//
//   getpath_roundtrip_ratio        full request / floor (for information: the floor pays neither
//                                  the mutex nor GetModuleFileNameExW)
//   getpath_protocol_ratio         full request / the same request to protocol_floor, the least
//                                  program with Sidecar64's class, handshake and calls
//                                  (target <= 1.05)
//   getpath_per_second             one requester
//   getpath_per_second_3           three requester processes at once, all requests together
//   protocol_floor_per_second_3    the same three against protocol_floor, rounds interleaved
//   getpath_protocol_ratio_3       protocol_floor_per_second_3 / getpath_per_second_3, the median
//                                  over pairs of neighbouring rounds (target <= 1.05)
//   window_property_us, default_proc_us
//                                  one GetPropW of "WND_ENTITY" and one DefWindowProcW(WM_NULL) on
//                                  a window of this process: what the receive window's framework
//                                  does per message beyond protocol_floor (twice per request)
//
//   getpath_bench <Sidecar64.exe> [blocks] [requests per block] [--floor-with-property]
//                                  (the last: protocol_floor reads a window property on every
//                                  message too; an experiment, not a figure)
//   getpath_bench --echo <ready event>                     the echo process
//   getpath_bench --requester <assistant> <floor> <count> <rounds>
//                                                          one of the three requesters
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "harness/raw_requester.h"
#include "host/client/win32_assistant_process.h"
#include "host/client/win32_liveness.h"

namespace {

using quillon::harness::Answer;
using quillon::harness::RawRequester;

constexpr wchar_t kEchoClass[] = L"QuillonBenchEcho";

using quillon::bench::Median;
using quillon::bench::Seconds;

HWND MakeWindow(const wchar_t* className, WNDPROC proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = className;
  RegisterClassExW(&wc);
  return CreateWindowExW(0, className, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance,
                         nullptr);
}

HWND ParseWindow(const wchar_t* text) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::wcstoull(text, nullptr, 0)));
}

// ---- the echo process -------------------------------------------------------------------------

LRESULT CALLBACK EchoProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    // Straight back to the sender's reply window, as a reply of the same size would go.
    const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    COPYDATASTRUCT echo = *record;
    SendMessageW(reinterpret_cast<HWND>(wParam), WM_COPYDATA, wParam,
                 reinterpret_cast<LPARAM>(&echo));
    return TRUE;
  }
  if (message == WM_CLOSE) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

int RunEcho(const wchar_t* readyEvent) {
  const HWND window = MakeWindow(kEchoClass, &EchoProc);
  const HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, readyEvent);
  if (window == nullptr || ready == nullptr) return 1;
  SetEvent(ready);
  CloseHandle(ready);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}

// ---- one of three requesters --------------------------------------------------------------------

constexpr wchar_t kReadySemaphore[] = L"QuillonBenchRequesterReady";
constexpr int kRequesters = 3;

// The event that starts round `round` of the three requesters.
std::wstring RoundEvent(int round) { return L"QuillonBenchRound" + std::to_wstring(round); }

// Which receiver a round of the three requesters talks to: Sidecar64 and protocol_floor in the
// order ABBA, so that each pair of rounds has one of each and neither is always first.
bool RoundIsSidecar(int round) { return round % 4 == 0 || round % 4 == 3; }

// Each round: says it is ready (the coordinator's clock stops when all three have), waits for the
// round's start, then sends `count` requests. Exit code: the failed requests.
int RunRequester(HWND assistant, HWND floor, int count, int rounds) {
  RawRequester requester;
  const HWND target = requester.window();
  const HANDLE ready = OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, kReadySemaphore);
  if (ready == nullptr) return 1;
  int failed = 0;
  for (int round = 0; round < rounds; ++round) {
    const HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, RoundEvent(round).c_str());
    ReleaseSemaphore(ready, 1, nullptr);
    if (start == nullptr || WaitForSingleObject(start, 600000) != WAIT_OBJECT_0) return 1;
    CloseHandle(start);
    const HWND receiver = RoundIsSidecar(round) ? assistant : floor;
    for (int i = 0; i < count; ++i) {
      Answer reply;
      if (!requester.GetPath(receiver, target, reply) || reply.count != 1) ++failed;
    }
  }
  ReleaseSemaphore(ready, 1, nullptr);  // the last round is over
  CloseHandle(ready);
  return failed;
}

// ---- the benchmark ------------------------------------------------------------------------------

bool StartProcess(const std::wstring& arguments, PROCESS_INFORMATION& info) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  if (!CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  return true;
}

// protocol_floor.exe, which lies beside this program.
std::wstring ProtocolFloorPath() {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"protocol_floor.exe";
}

bool StartProtocolFloor(bool withProperty, PROCESS_INFORMATION& info, HWND& window) {
  const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"QuillonBenchProtocolReady");
  const std::wstring path = ProtocolFloorPath();
  std::wstring command = L"\"" + path + L"\" QuillonBenchProtocolReady";
  if (withProperty) command += L" property";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  const bool started = CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                                      nullptr, nullptr, &startup, &info) != 0 &&
                       WaitForSingleObject(ready, 30000) == WAIT_OBJECT_0;
  CloseHandle(ready);
  if (!started) return false;
  CloseHandle(info.hThread);
  window = quillon::FindReceiveWindowOf(info.dwProcessId);
  return window != nullptr;
}

// The in-process part of the floor: the target's image path read here.
bool ReadPathInProcess(HWND target, std::wstring& path) {
  DWORD processId = 0;
  GetWindowThreadProcessId(target, &processId);
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (process == nullptr) return false;
  wchar_t buffer[MAX_PATH];
  DWORD size = MAX_PATH;
  const bool ok = QueryFullProcessImageNameW(process, 0, buffer, &size) != 0;
  CloseHandle(process);
  if (ok) path.assign(buffer, size);
  return ok;
}

int RunBench(const std::wstring& sidecar, int blocks, int perBlock, bool floorWithProperty) {
  RawRequester requester;
  const HWND main = MakeWindow(L"QuillonBenchMain", &DefWindowProcW);
  if (requester.window() == nullptr || main == nullptr || !quillon::WriteLivenessValue(main)) {
    return 1;
  }
  quillon::AssistantProcess assistantProcess;
  if (!assistantProcess.Start(sidecar, 30000)) {
    std::fprintf(stderr, "getpath_bench: Sidecar64 did not start\n");
    return 1;
  }
  const HWND assistant = quillon::FindReceiveWindowOf(assistantProcess.ProcessId());

  const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"QuillonBenchEchoReady");
  PROCESS_INFORMATION echoProcess{};
  if (!StartProcess(L"--echo QuillonBenchEchoReady", echoProcess) ||
      WaitForSingleObject(ready, 30000) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "getpath_bench: the echo process did not start\n");
    return 1;
  }
  CloseHandle(ready);
  HWND echo = nullptr;
  while ((echo = FindWindowExW(nullptr, echo, kEchoClass, nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(echo, &owner);
    if (owner == echoProcess.dwProcessId) break;
  }
  if (echo == nullptr) return 1;

  PROCESS_INFORMATION protocolProcess{};
  HWND protocol = nullptr;
  if (!StartProtocolFloor(floorWithProperty, protocolProcess, protocol)) {
    std::fprintf(stderr, "getpath_bench: protocol_floor did not start\n");
    return 1;
  }

  const HWND target = main;  // a window of this process: its path is known here
  const std::wstring request = quillon::harness::GetPathText(requester.window(), target);
  int failures = 0;
  // One request, timed on its own: a full request to `receiver` (Sidecar64, or the least program
  // of its protocol), or one of the echo floor.
  const auto timed = [&](auto send) {
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    if (!send()) ++failures;
    QueryPerformanceCounter(&to);
    return Seconds(from, to);
  };
  const auto fullRequest = [&](HWND receiver) {
    return timed([&] {
      Answer reply;
      return requester.Send(receiver, request, reply) && reply.count == 1 && reply.cbData > 2;
    });
  };
  const auto floorRequest = [&] {
    return timed([&] {
      Answer reply;
      std::wstring path;
      return requester.Send(echo, request, reply) && reply.count == 1 &&
             ReadPathInProcess(target, path);
    });
  };

  // What the receive window's framework does for every message beyond protocol_floor, timed on a
  // window of this process: one GetPropW of the object's property (a wineserver request under
  // Wine, whichever process asks) and the default window procedure for WM_NULL.
  int property = 0;
  SetPropW(main, L"WND_ENTITY", &property);
  const auto callBlock = [&](auto call) {
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    for (int i = 0; i < perBlock; ++i) call();
    QueryPerformanceCounter(&to);
    return Seconds(from, to) / perBlock;
  };
  const auto propertyBlock = [&] {
    return callBlock([&] {
      if (GetPropW(main, L"WND_ENTITY") != &property) ++failures;
    });
  };
  const auto defaultProcBlock = [&] {
    return callBlock([&] { DefWindowProcW(main, WM_NULL, 0, 0); });
  };

  for (int i = 0; i < 20; ++i) {  // warm-up
    fullRequest(assistant);
    fullRequest(protocol);
    floorRequest();
  }
  // The kinds take turns request by request, each in every place of the order, so that all three
  // see the same load; every figure is the median of single requests, which a burst of load on
  // the shared machine moves less than it moves a mean.
  std::vector<double> full, protocolFloor, floor, propertyCall, defaultProc;
  for (int block = 0; block < blocks; ++block) {
    for (int i = 0; i < perBlock; ++i) {
      for (int kind = 0; kind < 3; ++kind) {
        switch ((i + kind) % 3) {
          case 0:
            full.push_back(fullRequest(assistant));
            break;
          case 1:
            protocolFloor.push_back(fullRequest(protocol));
            break;
          default:
            floor.push_back(floorRequest());
            break;
        }
      }
    }
    propertyCall.push_back(propertyBlock());
    defaultProc.push_back(defaultProcBlock());
  }
  const double fullMedian = Median(full);
  const double protocolMedian = Median(protocolFloor);
  const double floorMedian = Median(floor);

  // Three requester processes at once, in rounds that alternate between Sidecar64 and
  // protocol_floor; all three are ready before a round's clock starts.
  // Short rounds, so that the two of a pair see nearly the same load.
  const int rounds = 4 * blocks;
  const int each = perBlock / 4 > 0 ? perBlock / 4 : 1;
  const HANDLE requestersReady = CreateSemaphoreW(nullptr, 0, kRequesters, kReadySemaphore);
  std::vector<HANDLE> roundStarts;
  for (int round = 0; round < rounds; ++round) {
    roundStarts.push_back(CreateEventW(nullptr, TRUE, FALSE, RoundEvent(round).c_str()));
  }
  std::vector<PROCESS_INFORMATION> requesters(kRequesters);
  for (auto& info : requesters) {
    if (!StartProcess(L"--requester " +
                          std::to_wstring(reinterpret_cast<std::uintptr_t>(assistant)) + L" " +
                          std::to_wstring(reinterpret_cast<std::uintptr_t>(protocol)) + L" " +
                          std::to_wstring(each) + L" " + std::to_wstring(rounds),
                      info)) {
      return 1;
    }
  }
  // True when all three requesters said they were ready within the bound.
  const auto allReady = [&] {
    for (int i = 0; i < kRequesters; ++i) {
      if (WaitForSingleObject(requestersReady, 600000) != WAIT_OBJECT_0) return false;
    }
    return true;
  };
  std::vector<double> sidecarRounds, floorRounds, pairRatios;
  bool roundsRan = allReady();
  for (int round = 0; roundsRan && round < rounds; ++round) {
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    SetEvent(roundStarts[static_cast<std::size_t>(round)]);
    roundsRan = allReady();
    QueryPerformanceCounter(&to);
    const double rate = kRequesters * each / Seconds(from, to);
    (RoundIsSidecar(round) ? sidecarRounds : floorRounds).push_back(rate);
    if (round % 2 == 1) pairRatios.push_back(floorRounds.back() / sidecarRounds.back());
  }
  if (!roundsRan) {
    std::fprintf(stderr, "getpath_bench: a requester did not finish its round\n");
    ++failures;
  }
  for (auto& info : requesters) {
    WaitForSingleObject(info.hProcess, roundsRan ? INFINITE : 10000);
    DWORD code = 1;
    GetExitCodeProcess(info.hProcess, &code);
    if (code != 0) ++failures;
    CloseHandle(info.hProcess);
  }
  for (const HANDLE start : roundStarts) CloseHandle(start);
  CloseHandle(requestersReady);

  PostMessageW(protocol, WM_CLOSE, 0, 0);
  WaitForSingleObject(protocolProcess.hProcess, 10000);
  CloseHandle(protocolProcess.hProcess);
  PostMessageW(echo, WM_CLOSE, 0, 0);
  WaitForSingleObject(echoProcess.hProcess, 10000);
  CloseHandle(echoProcess.hProcess);
  Answer reply;
  requester.Send(assistant, L"Exit", reply);
  assistantProcess.WaitForExit(10000);

  const auto median = [](const std::vector<double>& values) {
    return values.empty() ? 0.0 : Median(values);
  };
  std::printf("getpath_us: %.1f\n", fullMedian * 1e6);
  std::printf("floor_us: %.1f\n", floorMedian * 1e6);
  std::printf("protocol_floor_us: %.1f\n", protocolMedian * 1e6);
  std::printf("window_property_us: %.1f\n", Median(propertyCall) * 1e6);
  std::printf("default_proc_us: %.1f\n", Median(defaultProc) * 1e6);
  std::printf("getpath_protocol_ratio: %.3f\n", fullMedian / protocolMedian);
  std::printf("getpath_roundtrip_ratio: %.3f\n", fullMedian / floorMedian);
  std::printf("getpath_per_second: %.0f\n", 1.0 / fullMedian);
  std::printf("getpath_per_second_3: %.0f\n", median(sidecarRounds));
  std::printf("protocol_floor_per_second_3: %.0f\n", median(floorRounds));
  std::printf("getpath_protocol_ratio_3: %.3f\n", median(pairRatios));
  std::printf("failed_requests: %d\n", failures);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 2) {
    std::fputs(
        "usage: getpath_bench <Sidecar64.exe> [blocks] [requests per block] "
        "[--floor-with-property]\n",
        stderr);
    return 2;
  }
  const std::wstring first = argv[1];
  if (first == L"--echo" && argc == 3) return RunEcho(argv[2]);
  if (first == L"--requester" && argc == 6) {
    return RunRequester(ParseWindow(argv[2]), ParseWindow(argv[3]),
                        static_cast<int>(std::wcstol(argv[4], nullptr, 10)),
                        static_cast<int>(std::wcstol(argv[5], nullptr, 10)));
  }
  std::wstring sidecar = first;
  if (!sidecar.empty() && sidecar[0] == L'/') sidecar = L"Z:" + sidecar;
  const int blocks = argc > 2 ? static_cast<int>(std::wcstol(argv[2], nullptr, 10)) : 9;
  const int perBlock = argc > 3 ? static_cast<int>(std::wcstol(argv[3], nullptr, 10)) : 200;
  const bool floorWithProperty = argc > 4 && std::wstring(argv[4]) == L"--floor-with-property";
  if (floorWithProperty) std::puts("protocol_floor: with a window property read per message");
  return RunBench(sidecar, blocks, perBlock, floorWithProperty);
}
