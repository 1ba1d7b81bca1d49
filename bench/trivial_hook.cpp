// The floor of hook_bench: a hook procedure that only passes the call on, in a DLL of its own so
// that the system dispatches it exactly as it dispatches Tallyhook's HookProc.
#include <windows.h>

extern "C" __declspec(dllexport) LRESULT CALLBACK
    TrivialHook(int code, WPARAM wParam, LPARAM lParam) {
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
