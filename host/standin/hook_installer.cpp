#include "host/standin/hook_installer.h"

#include "host/contract.h"

namespace quillon::standin {

std::wstring HookInstaller::Install(const std::wstring& library_path, HWND dialog) {
  library_.Reset(::LoadLibraryW(library_path.c_str()));
  if (!library_) return L"cannot load " + library_path;
  // Through void*: FARPROC and HOOKPROC have different signatures.
  auto* procedure = reinterpret_cast<HOOKPROC>(
      reinterpret_cast<void*>(::GetProcAddress(library_.Get(), contract::kHookProcName)));
  if (procedure == nullptr) return L"no HookProc in " + library_path;

  // Every process reads the property once, when the library is mapped into it, and the first
  // ones may map it as soon as the hook exists: publish the handle with nothing in between.
  hook_.Reset(::SetWindowsHookExW(contract::kHookType, procedure, library_.Get(), 0));
  if (!hook_) return L"SetWindowsHookEx failed";
  if (!::SetPropW(dialog, contract::HookProperty<wchar_t>, hook_.Get())) {
    hook_.Reset();
    return L"cannot set the hook property";
  }
  dialog_ = dialog;
  return {};
}

void HookInstaller::Remove() {
  hook_.Reset();
  if (dialog_ != nullptr && ::IsWindow(dialog_)) {
    ::RemovePropW(dialog_, contract::HookProperty<wchar_t>);
  }
  dialog_ = nullptr;
  library_.Reset();
}

}  // namespace quillon::standin
