#include "hooklib/module_lifetime.h"

namespace quillon {
namespace {

// Long enough for the thread that queued the release to have returned from the module's code
// (a few instructions), however busy the machine; short beside the watchdog's period.
constexpr DWORD kReleasePauseMs = 1000;

void CALLBACK ReleaseModuleCallback(PTP_CALLBACK_INSTANCE instance, void* module) {
  Sleep(kReleasePauseMs);
  // The pool calls FreeLibrary once this callback has returned, so no code of the module runs
  // after the unmapping.
  FreeLibraryWhenCallbackReturns(instance, static_cast<HMODULE>(module));
}

}  // namespace

bool HoldModule(HMODULE module) {
  HMODULE held = nullptr;
  // The image base lies inside the image: the address names the module, and the call adds one
  // reference to it (never a pin, so it can be given back).
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(module), &held) != FALSE;
}

bool ReleaseModuleLater(HMODULE module) {
  return TrySubmitThreadpoolCallback(ReleaseModuleCallback, module, nullptr) != FALSE;
}

}  // namespace quillon
