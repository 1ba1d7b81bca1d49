#include "assistant/cwnd.h"

#include <algorithm>
#include <cwchar>
#include <vector>

namespace quillon {
namespace {

constexpr const wchar_t* kEntityProperty = L"WND_ENTITY";
constexpr int kClassNameUnits = 128;  // so at most 127 characters of a class name are compared

std::vector<const WndFactoryEntry*>& Factories() {
  static std::vector<const WndFactoryEntry*> factories;
  return factories;
}

const WndFactoryEntry* FindFactory(HWND window) {
  wchar_t name[kClassNameUnits] = {};
  if (GetClassNameW(window, name, kClassNameUnits) == 0) return nullptr;
  for (const WndFactoryEntry* entry : Factories()) {
    if (entry->className != nullptr && std::wcscmp(entry->className, name) == 0) return entry;
  }
  return nullptr;
}

CWnd* ObjectOf(HWND window) { return static_cast<CWnd*>(GetPropW(window, kEntityProperty)); }

}  // namespace

CWnd* CWnd::creating_ = nullptr;
DWORD CWnd::creatingThread_ = 0;

void AddWndFactory(const WndFactoryEntry& entry) { Factories().push_back(&entry); }

void RemoveWndFactory(const WndFactoryEntry& entry) {
  auto& factories = Factories();
  factories.erase(std::remove(factories.begin(), factories.end(), &entry), factories.end());
}

CWnd::~CWnd() {
  // Only CWnd's own operations are in force here, so the WM_DESTROY below reaches CWnd's
  // handlers and nothing of a subclass that is already gone.
  if (hWnd_ == nullptr) return;
  if (attached_ != 0) {
    CWnd::Detach();
  } else {
    CWnd::Destroy();
  }
}

bool CWnd::EnsureRegistered() {
  bool& registered = RegisteredFlag();
  if (!registered) registered = RegisterWndClass() != 0;
  return registered;
}

bool CWnd::Create(DWORD exStyle, DWORD style, HWND parent, HMENU menu) {
  EnsureRegistered();  // a failed registration (class exists already) does not stop us
  Destroy();
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  // Windows are made one at a time on a thread, but a window procedure may create another
  // window while handling a message of the first: keep the outer claim and restore it after.
  CWnd* const outer = creating_;
  const DWORD outerThread = creatingThread_;
  creating_ = this;
  creatingThread_ = GetCurrentThreadId();
  hWnd_ = CreateWindowExW(exStyle, ClassName(), L"", style, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                          parent, menu, instance, this);
  creating_ = outer;
  creatingThread_ = outerThread;
  return hWnd_ != nullptr;
}

void CWnd::Destroy() {
  if (hWnd_ == nullptr) return;
  if (attached_ != 0) {
    Detach();
  } else {
    DestroyWindow(hWnd_);
  }
}

BOOL CWnd::DetachIfAttached() {
  if (attached_ != 0) Detach();
  return TRUE;
}

BOOL CWnd::Detach() {
  if (attached_ == 0) return FALSE;
  // The window lives on without us: it must not lead to this object any more.
  if (hWnd_ != nullptr && ObjectOf(hWnd_) == this) RemovePropW(hWnd_, kEntityProperty);
  hWnd_ = nullptr;
  return TRUE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      return OnDestroy();
    case WM_PAINT:
      return OnPaint();
    case WM_NCCREATE:
      return OnNcCreate(wParam, lParam);
    case WM_KEYDOWN:
      return OnKeyDown(wParam, lParam);
    case WM_KEYUP:
      return OnKeyUp(wParam, lParam);
    case WM_COMMAND:
      return OnCommand(wParam, lParam);
    case WM_TIMER:
      return OnTimer(wParam, lParam);
    case WM_MOUSEMOVE:
      return OnMouseMove(wParam, lParam);
    case WM_LBUTTONDOWN:
      return OnLButtonDown(wParam, lParam);
    case WM_LBUTTONUP:
      return OnLButtonUp(wParam, lParam);
    case WM_LBUTTONDBLCLK:
      return OnLButtonDblClk(wParam, lParam);
    case WM_RBUTTONDOWN:
      return OnRButtonDown(wParam, lParam);
    case WM_RBUTTONUP:
      return OnRButtonUp(wParam, lParam);
    default:
      if (previousWndProc_ != nullptr) {
        return CallWindowProcW(previousWndProc_, hWnd_, message, wParam, lParam);
      }
      return DefWindowProcW(hWnd_, message, wParam, lParam);
  }
}

int CWnd::OnNcCreate(WPARAM, LPARAM) { return 1; }
LRESULT CWnd::OnDestroy() { return 0; }
LRESULT CWnd::OnCommand(WPARAM, LPARAM) { return 0; }
LRESULT CWnd::OnPaint() { return 0; }
LRESULT CWnd::OnMouseMove(WPARAM, LPARAM) { return 0; }
LRESULT CWnd::OnLButtonDown(WPARAM, LPARAM) { return 0; }
LRESULT CWnd::OnLButtonUp(WPARAM, LPARAM) { return 0; }
LRESULT CWnd::OnLButtonDblClk(WPARAM, LPARAM) { return 0; }
LRESULT CWnd::OnRButtonDown(WPARAM, LPARAM) { return 0; }
LRESULT CWnd::OnRButtonUp(WPARAM, LPARAM) { return 0; }
LRESULT CWnd::OnKeyDown(WPARAM, LPARAM) { return 0; }
LRESULT CWnd::OnKeyUp(WPARAM, LPARAM) { return 0; }
LRESULT CWnd::OnTimer(WPARAM, LPARAM) { return 0; }

ATOM CWnd::RegisterWndClass() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_VREDRAW | CS_HREDRAW;
  windowClass.lpfnWndProc = &CWnd::StaticWndProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  windowClass.lpszClassName = ClassName();
  return RegisterClassExW(&windowClass);
}

LRESULT CALLBACK CWnd::StaticWndProc(HWND window, UINT message, WPARAM wParam,
                                     LPARAM lParam) noexcept {
  // No exception may unwind through the system's frames; a message whose handling ran out of
  // memory is answered with 0 and the program goes on.
  try {
    switch (message) {
      case WM_DESTROY: {
        // Another process may send this one too. It carries nothing that is looked at, so the
        // worst it does is what a WM_CLOSE does: the object lets go of its window (for
        // Sidecar64: the program ends). WM_NCDESTROY has no handling of its own here.
        if (CWnd* object = ObjectOf(window)) {
          object->WindowProc(WM_DESTROY, wParam, lParam);
          // The handle dies with this message; keep no stale copy that could be destroyed later.
          if (object->hWnd_ == window) object->hWnd_ = nullptr;
          if (object->madeByRegistry_) DestroyByClassName(object, window);
        }
        RemovePropW(window, kEntityProperty);
        return DefWindowProcW(window, WM_DESTROY, wParam, lParam);
      }
      case WM_SETFONT:
        return 0;
      case WM_NCCREATE: {
        if (lParam == 0) return 0;
        // A window that has its object already is alive: this WM_NCCREATE came from outside,
        // and it is handled like any other message, its creation parameter never looked at.
        if (ObjectOf(window) != nullptr) break;
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        if (create->lpCreateParams != nullptr) {
          // Only the object that is making this very window, on this thread, is taken; it
          // claims one window, so a second WM_NCCREATE during the same Create binds nothing.
          if (create->lpCreateParams == creating_ && creatingThread_ == GetCurrentThreadId() &&
              creating_->hWnd_ == nullptr) {
            creating_->hWnd_ = window;
            SetPropW(window, kEntityProperty, creating_);
          }
        } else if (CWnd* made = CreateByClassName(window)) {
          SetPropW(window, kEntityProperty, made);
          made->madeByRegistry_ = true;
        }
        break;
      }
      default:
        break;
    }
    if (CWnd* object = ObjectOf(window)) return object->WindowProc(message, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

CWnd* CWnd::CreateByClassName(HWND window) {
  const WndFactoryEntry* entry = FindFactory(window);
  return entry != nullptr && entry->create != nullptr ? entry->create(window) : nullptr;
}

void CWnd::DestroyByClassName(CWnd* object, HWND window) {
  const WndFactoryEntry* entry = FindFactory(window);
  if (entry != nullptr && entry->destroy != nullptr) entry->destroy(object);
}

}  // namespace quillon
