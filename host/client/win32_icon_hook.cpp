#include "host/client/win32_icon_hook.h"

#include "host/client/win32_library_update.h"
#include "host/contract.h"

namespace quillon {

HWND FindHostDialog() {
  using namespace contract;
  HWND tray = nullptr;
  do {
    tray = ::FindWindowExW(nullptr, tray, TrayClass<wchar_t>, nullptr);
  } while (tray != nullptr && !::IsWindowVisible(tray));
  if (tray == nullptr) return nullptr;
  const HWND rebar = ::FindWindowExW(tray, nullptr, RebarClass<wchar_t>, nullptr);
  if (rebar == nullptr) return nullptr;
  const HWND task_switch = ::FindWindowExW(rebar, nullptr, TaskSwitchClass<wchar_t>, nullptr);
  if (task_switch == nullptr) return nullptr;
  const HWND alt =
      ::FindWindowExW(task_switch, nullptr, DialogClass<wchar_t>, DialogTitleAlt<wchar_t>);
  if (alt != nullptr) return alt;
  return ::FindWindowExW(task_switch, nullptr, DialogClass<wchar_t>, DialogTitle<wchar_t>);
}

HookStatus IconHook::Install(HWND dialog, const std::wstring& library_path) {
  if (hook_) return HookStatus::kAlreadyInstalled;
  if (dialog == nullptr || !::IsWindow(dialog)) return HookStatus::kNoDialog;
  if (FindHostDialog() != dialog) return HookStatus::kDialogNotFound;
  // The system keeps HookProc as an offset into the library; a program holding an old copy
  // under this path would get that offset applied to the old copy's code.
  if (!CheckOldCopies(library_path).SafeToInstall()) return HookStatus::kOldLibraryInUse;

  UniqueModule library(::LoadLibraryW(library_path.c_str()));
  if (!library) return HookStatus::kLoadFailed;
  // Through void*: FARPROC and HOOKPROC have different signatures.
  auto* procedure = reinterpret_cast<HOOKPROC>(
      reinterpret_cast<void*>(::GetProcAddress(library.Get(), contract::kHookProcName)));
  if (procedure == nullptr) return HookStatus::kNoHookProc;

  // Every process reads the property once, when the library is mapped into it, and the first
  // ones may map it as soon as the hook exists: publish the handle with nothing in between.
  UniqueHook hook(::SetWindowsHookExW(contract::kHookType, procedure, library.Get(), 0));
  if (!hook) return HookStatus::kHookFailed;
  if (!::SetPropW(dialog, contract::HookProperty<wchar_t>, hook.Get())) {
    return HookStatus::kPropertyFailed;  // unhooked, then freed, as `hook` and `library` go
  }
  library_ = std::move(library);
  hook_ = std::move(hook);
  dialog_ = dialog;
  return HookStatus::kInstalled;
}

void IconHook::Remove() {
  const HHOOK hook = hook_.Get();
  hook_.Reset();
  if (dialog_ != nullptr && hook != nullptr && ::IsWindow(dialog_) &&
      ::GetPropW(dialog_, contract::HookProperty<wchar_t>) == hook) {
    ::RemovePropW(dialog_, contract::HookProperty<wchar_t>);
  }
  dialog_ = nullptr;
  library_.Reset();
}

const char* Describe(HookStatus status) {
  switch (status) {
    case HookStatus::kInstalled:
      return "installed";
    case HookStatus::kNoDialog:
      return "the dialog does not exist; create it before the hook";
    case HookStatus::kDialogNotFound:
      return "the dialog is not where Tallyhook looks for it";
    case HookStatus::kAlreadyInstalled:
      return "already installed";
    case HookStatus::kLoadFailed:
      return "cannot load the library";
    case HookStatus::kNoHookProc:
      return "the library has no HookProc";
    case HookStatus::kHookFailed:
      return "SetWindowsHookEx failed";
    case HookStatus::kPropertyFailed:
      return "cannot set the hook property";
    case HookStatus::kOldLibraryInUse:
      return "an old copy of the library with HookProc elsewhere is still in use; try again once "
             "it has gone";
  }
  return "unknown";
}

}  // namespace quillon
