// Scoped GDI states that are not owned handles: a paint, a window's device context, an object
// selected into a device context. Each puts things back as they were when it goes.
#pragma once

#include <windows.h>

namespace quillon::standin {

class ScopedPaint {
 public:
  explicit ScopedPaint(HWND window) : window_(window), dc_(::BeginPaint(window, &paint_)) {}
  ~ScopedPaint() { ::EndPaint(window_, &paint_); }
  ScopedPaint(const ScopedPaint&) = delete;
  ScopedPaint& operator=(const ScopedPaint&) = delete;
  HDC dc() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

class ScopedWindowDc {  // GetDC / ReleaseDC; null window: the screen
 public:
  explicit ScopedWindowDc(HWND window = nullptr) : window_(window), dc_(::GetDC(window)) {}
  ~ScopedWindowDc() {
    if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
  }
  ScopedWindowDc(const ScopedWindowDc&) = delete;
  ScopedWindowDc& operator=(const ScopedWindowDc&) = delete;
  HDC dc() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

class ScopedSelection {  // SelectObject, undone on the way out
 public:
  ScopedSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ~ScopedSelection() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
  }
  ScopedSelection(const ScopedSelection&) = delete;
  ScopedSelection& operator=(const ScopedSelection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace quillon::standin
