// The least program that speaks Sidecar64's protocol, as the floor of getpath_protocol_ratio: the
// same window class, the same mutex handshake and the same calls per "GetPath" request
// (GetWindowThreadProcessId, OpenProcess 0x410, GetModuleFileNameExW, CloseHandle, the reply
// SendMessageTimeoutW), and nothing else: no window framework, no settings, no watchdog, no checks
// beyond what reading the two handles needs. A benchmark fixture only.
//
//   protocol_floor <ready event> [property]
//
// With "property" it also reads a window property on every message, as Sidecar64's window
// framework finds its object: the experiment that shows what that one call costs.
#include <windows.h>
// After windows.h, which it builds on.
#include <psapi.h>

#include <cstdint>
#include <cstring>
#include <cwchar>

#include "host/contract.h"

namespace {

namespace contract = quillon::contract;

HANDLE g_mutex = nullptr;
bool g_readProperty = false;

HWND HandleAt(const wchar_t* text, const wchar_t** end) {
  wchar_t* stop = nullptr;
  const unsigned long value = std::wcstoul(text, &stop, 16);
  *end = stop;
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
}

void Answer(const COPYDATASTRUCT* request) {
  // "GetPath 0x%08x 0x%08x": the two handles follow the command word.
  const auto* text = static_cast<const wchar_t*>(request->lpData);
  const wchar_t* at = std::wcschr(text, L' ');
  if (at == nullptr) return;
  const HWND reply = HandleAt(at, &at);
  const HWND target = HandleAt(at, &at);
  DWORD processId = 0;
  GetWindowThreadProcessId(target, &processId);
  wchar_t path[contract::kMaxPathUnits] = {};
  if (const HANDLE process = OpenProcess(0x410, FALSE, processId)) {
    GetModuleFileNameExW(process, nullptr, path, contract::kMaxPathUnits);
    CloseHandle(process);
  }
  const auto value = static_cast<ULONG_PTR>(reinterpret_cast<std::uintptr_t>(target));
  COPYDATASTRUCT data{value, static_cast<DWORD>((std::wcslen(path) + 1) * sizeof(wchar_t)), path};
  // Bounded as Sidecar64's reply is: the same call, the same bound.
  DWORD_PTR result = 0;
  SendMessageTimeoutW(reply, WM_COPYDATA, value, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL,
                      contract::kReplySendLimitMs, &result);
}

LRESULT CALLBACK ReceiveProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_readProperty) GetPropW(window, L"WND_ENTITY");
  switch (message) {
    case WM_NULL:
      WaitForSingleObject(g_mutex, INFINITE);
      return 0;
    case WM_COPYDATA:
      Answer(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
      ReleaseMutex(g_mutex);
      return 0;
    case WM_CLOSE:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) return 2;
  g_readProperty = argc == 3 && std::strcmp(argv[2], "property") == 0;
  g_mutex = CreateMutexW(nullptr, FALSE, contract::RequestMutex<wchar_t>);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &ReceiveProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = contract::ReceiveClass<wchar_t>;
  if (g_mutex == nullptr || RegisterClassExW(&wc) == 0) return 1;
  const HWND window = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                      nullptr, wc.hInstance, nullptr);
  if (window == nullptr) return 1;
  static int object = 0;
  if (g_readProperty) SetPropW(window, L"WND_ENTITY", &object);
  const HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
  if (ready == nullptr) return 1;
  SetEvent(ready);
  CloseHandle(ready);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
