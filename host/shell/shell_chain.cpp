#include "host/shell/shell_chain.h"

#include "host/contract.h"

namespace quillon::shell {
namespace {

// Registers the plain window classes of the chain once per process; they only need to exist
// with the right names, so DefWindowProcW serves them all.
bool RegisterChainClasses() {
  static const bool registered = [] {
    for (const wchar_t* name : {contract::TrayClass<wchar_t>, contract::RebarClass<wchar_t>,
                                contract::TaskSwitchClass<wchar_t>}) {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof(wc);
      wc.lpfnWndProc = DefWindowProcW;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
      wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
      wc.lpszClassName = name;
      if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return false;
      }
    }
    return true;
  }();
  return registered;
}

HWND MakeWindow(const wchar_t* windowClass, const wchar_t* title, DWORD style, HWND parent) {
  const int width = (style & WS_CHILD) != 0 ? 100 : 300;
  return CreateWindowExW(0, windowClass, title, style, 0, 0, width, 40, parent, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

std::unique_ptr<ShellChain> ShellChain::Create(const ShellChainOptions& options) {
  if (!RegisterChainClasses()) return nullptr;
  std::unique_ptr<ShellChain> chain(new ShellChain);
  chain->tray_.Reset(MakeWindow(contract::TrayClass<wchar_t>, L"", WS_POPUP | WS_VISIBLE, nullptr));
  if (!chain->tray_) return nullptr;
  chain->rebar_.Reset(
      MakeWindow(contract::RebarClass<wchar_t>, L"", WS_CHILD | WS_VISIBLE, chain->tray_.Get()));
  if (!chain->rebar_) return nullptr;
  chain->taskSwitch_.Reset(MakeWindow(contract::TaskSwitchClass<wchar_t>, L"",
                                      WS_CHILD | WS_VISIBLE, chain->rebar_.Get()));
  if (!chain->taskSwitch_) return nullptr;
  if (options.dialogTitle != nullptr && chain->AddDialog(options.dialogTitle) == nullptr) {
    return nullptr;
  }
  if (options.hiddenTrayFirst) {
    chain->hiddenTray_.Reset(MakeWindow(contract::TrayClass<wchar_t>, L"", WS_POPUP, nullptr));
    if (!chain->hiddenTray_) return nullptr;
    // A new window usually lands on top already; make the order explicit.
    SetWindowPos(chain->hiddenTray_.Get(), HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  return chain;
}

HWND ShellChain::dialog(std::size_t index) const {
  return index < dialogs_.size() ? dialogs_[index].Get() : nullptr;
}

HWND ShellChain::AddDialog(const wchar_t* title, HWND parent) {
  // WC_DIALOG is the system dialog class "#32770".
  HWND dialog = MakeWindow(contract::DialogClass<wchar_t>, title, WS_CHILD | WS_VISIBLE,
                           parent != nullptr ? parent : taskSwitch_.Get());
  if (dialog != nullptr) dialogs_.emplace_back(dialog);
  return dialog;
}

void ShellChain::HideTray() { ShowWindow(tray_.Get(), SW_HIDE); }

}  // namespace quillon::shell
