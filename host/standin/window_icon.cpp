#include "host/standin/window_icon.h"

#include <shellapi.h>

namespace quillon::standin {
namespace {

HICON AskWindow(HWND window, WPARAM which, UINT timeout_ms) {
  DWORD_PTR icon = 0;
  // SMTO_ABORTIFHUNG: a program that has stopped pumping gets no wait at all.
  if (::SendMessageTimeoutW(window, WM_GETICON, which, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, timeout_ms,
                            &icon) == 0) {
    return nullptr;
  }
  return reinterpret_cast<HICON>(icon);
}

HICON AskClass(HWND window, int which) {
  return reinterpret_cast<HICON>(::GetClassLongPtrW(window, which));
}

}  // namespace

HICON WindowSmallIcon(HWND window, UINT timeout_ms) {
  HICON icon = AskWindow(window, ICON_SMALL, timeout_ms);
  if (icon == nullptr) icon = AskWindow(window, ICON_SMALL2, timeout_ms);
  if (icon == nullptr) icon = AskClass(window, GCLP_HICONSM);
  if (icon == nullptr) icon = AskWindow(window, ICON_BIG, timeout_ms);
  if (icon == nullptr) icon = AskClass(window, GCLP_HICON);
  return icon;
}

UniqueIcon ProgramSmallIcon(const std::wstring& path) {
  HICON small_icon = nullptr;
  if (::ExtractIconExW(path.c_str(), 0, nullptr, &small_icon, 1) == 0) return UniqueIcon();
  return UniqueIcon(small_icon);
}

}  // namespace quillon::standin
