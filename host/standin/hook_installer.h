// Loads the hook library and installs its HookProc for all threads as the window-procedure-
// return hook, publishing the hook handle on the host's dialog. Undone in reverse on destruction.
#pragma once

#include <windows.h>

#include <string>

#include "host/win32_handles.h"

namespace quillon::standin {

class HookInstaller {
 public:
  HookInstaller() = default;
  ~HookInstaller() { Remove(); }
  HookInstaller(const HookInstaller&) = delete;
  HookInstaller& operator=(const HookInstaller&) = delete;

  // Empty on success, otherwise what failed.
  std::wstring Install(const std::wstring& library_path, HWND dialog);
  void Remove();
  HHOOK Hook() const { return hook_.Get(); }

 private:
  UniqueModule library_;
  UniqueHook hook_;
  HWND dialog_ = nullptr;
};

}  // namespace quillon::standin
