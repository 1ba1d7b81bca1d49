// CWnd: ties one window to one object. The object is the window's creation parameter, is found
// again for every message through the window property "WND_ENTITY", and gets a fixed set of
// messages through virtual handlers that do nothing by default.
#pragma once

#include <windows.h>

namespace quillon {

class CWnd;

// An entry of the class-name registry: lets a window of a framework class that was created
// without an object get one, made by `create` and handed to `destroy` at WM_DESTROY.
struct WndFactoryEntry {
  const wchar_t* className;
  CWnd* (*create)(HWND window);
  void (*destroy)(CWnd* object);
};

// The registry holds pointers; entries must outlive their registration. Lookups walk it from the
// front. Not locked: use it on the window thread only.
void AddWndFactory(const WndFactoryEntry& entry);
void RemoveWndFactory(const WndFactoryEntry& entry);

class CWnd {
 public:
  CWnd() noexcept = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  // The order of these declarations is the order of the table of virtual operations.
  virtual ~CWnd();
  virtual bool EnsureRegistered();
  virtual bool& RegisteredFlag() = 0;  // the subclass's own static flag, false at start
  virtual bool Create(DWORD exStyle, DWORD style, HWND parent, HMENU menu);
  virtual void Destroy();
  virtual BOOL DetachIfAttached();
  virtual BOOL Detach();
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual int OnNcCreate(WPARAM wParam, LPARAM lParam);
  virtual LRESULT OnDestroy();
  virtual LRESULT OnCommand(WPARAM wParam, LPARAM lParam);
  virtual LRESULT OnPaint();
  virtual LRESULT OnMouseMove(WPARAM wParam, LPARAM lParam);
  virtual LRESULT OnLButtonDown(WPARAM wParam, LPARAM lParam);
  virtual LRESULT OnLButtonUp(WPARAM wParam, LPARAM lParam);
  virtual LRESULT OnLButtonDblClk(WPARAM wParam, LPARAM lParam);
  virtual LRESULT OnRButtonDown(WPARAM wParam, LPARAM lParam);
  virtual LRESULT OnRButtonUp(WPARAM wParam, LPARAM lParam);
  virtual LRESULT OnKeyDown(WPARAM wParam, LPARAM lParam);
  virtual LRESULT OnKeyUp(WPARAM wParam, LPARAM lParam);
  virtual LRESULT OnTimer(WPARAM wParam, LPARAM lParam);
  virtual const wchar_t* ClassName() const = 0;  // the same text on every call

  HWND GetHwnd() const noexcept { return hWnd_; }

  // Registers the class of the object's dynamic type; 0 on failure (also when it exists).
  ATOM RegisterWndClass();

  // The window procedure of every framework class.
  static LRESULT CALLBACK StaticWndProc(HWND window, UINT message, WPARAM wParam,
                                        LPARAM lParam) noexcept;
  static CWnd* CreateByClassName(HWND window);
  static void DestroyByClassName(CWnd* object, HWND window);

 protected:
  // A window that is not the object's to destroy: Destroy and the destructor only let go of it.
  void SetAttached(bool attached) noexcept { attached_ = attached ? 1 : 0; }
  // Messages without a handler go here instead of DefWindowProcW when set.
  void SetPreviousWndProc(WNDPROC previous) noexcept { previousWndProc_ = previous; }

 private:
  // The object whose Create is making a window on this thread right now. Only that window's
  // WM_NCCREATE may bind it: any other process can send a live window a WM_NCCREATE, and the
  // system hands the sender's creation parameter on with it.
  static CWnd* creating_;
  static DWORD creatingThread_;

  HWND hWnd_ = nullptr;
  WNDPROC previousWndProc_ = nullptr;
  int attached_ = 0;
  bool madeByRegistry_ = false;
};

}  // namespace quillon
