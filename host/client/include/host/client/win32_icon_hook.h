// The host's hook with Tallyhook, installed and removed in the one order that works.
//
// Install: the dialog must already exist where Tallyhook looks for it, because the library
// looks exactly once in each process, when it is mapped there - and the host's own process maps
// it with LoadLibrary. Then LoadLibrary, SetWindowsHookEx(WH_CALLWNDPROCRET, HookProc, library,
// 0), and the hook handle as the property "WDIcon_hook" on the dialog with nothing in between.
// Remove (and the destructor): unhook, remove the property, free the library.
// Before anything is loaded, Install asks CheckOldCopies (win32_library_update.h) whether a
// program may still map an old copy that the hook would not fit.
//
// The thread that installs the hook is the one on which Windows runs the 32-bit hook for
// 64-bit programs: it must keep pumping messages while the hook is installed, and the host
// process must be 32-bit (a 64-bit process cannot load the library).
#ifndef QUILLON_HOST_CLIENT_WIN32_ICON_HOOK_H
#define QUILLON_HOST_CLIENT_WIN32_ICON_HOOK_H

#include <windows.h>

#include <string>

#include "host/win32_handles.h"

namespace quillon {

enum class HookStatus {
  kInstalled,
  kNoDialog,          // no such window (yet): the library was not loaded
  kDialogNotFound,    // Tallyhook would not find this dialog at attach: the library was not loaded
  kAlreadyInstalled,  // this object holds an installed hook already
  kLoadFailed,        // LoadLibrary failed (missing file, wrong bitness)
  kNoHookProc,        // the library has no export HookProc
  kHookFailed,        // SetWindowsHookEx failed
  kPropertyFailed,    // SetProp failed; the hook was removed again
  // An old copy of the library, renamed aside by an update, is still held and has HookProc at
  // another offset than the installed file: the programs that map it would run the new offset
  // in the old code. Nothing was loaded; install once it has gone (CheckOldCopies).
  kOldLibraryInUse,
};

const char* Describe(HookStatus status);

// The dialog that Tallyhook finds at attach: below the first visible "Shell_TrayWnd" >
// "ReBarWindow32" > "MSTaskSwWClass", the "#32770" titled "Wendril", else the one titled
// "Quillon"; null when there is none.
HWND FindHostDialog();

class IconHook {
 public:
  IconHook() = default;
  ~IconHook() { Remove(); }
  IconHook(const IconHook&) = delete;
  IconHook& operator=(const IconHook&) = delete;

  // `dialog` is the host's dialog, `library_path` the full path of Tallyhook.dll.
  HookStatus Install(HWND dialog, const std::wstring& library_path);
  // Unhooks, removes the property (while it still holds this hook) and frees the library.
  void Remove();

  bool Installed() const { return static_cast<bool>(hook_); }
  HHOOK Hook() const { return hook_.Get(); }
  HMODULE Library() const { return library_.Get(); }

 private:
  UniqueModule library_;  // declared first: freed last
  UniqueHook hook_;
  HWND dialog_ = nullptr;
};

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_WIN32_ICON_HOOK_H
