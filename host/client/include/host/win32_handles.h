// One owning wrapper per kind of Win32 handle, each with its own "none" value and release call;
// the one set of handle wrappers of the whole tree.
#ifndef QUILLON_HOST_WIN32_HANDLES_H
#define QUILLON_HOST_WIN32_HANDLES_H

#include <windows.h>

#include <utility>

namespace quillon {

template <class Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() = default;
  explicit UniqueHandle(Type value) : value_(value) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Type Get() const { return value_; }
  explicit operator bool() const { return value_ != Traits::None(); }
  Type Release() { return std::exchange(value_, Traits::None()); }
  void Reset(Type value = Traits::None()) {
    Type old = std::exchange(value_, value);
    if (old != Traits::None()) Traits::Close(old);
  }

 private:
  Type value_ = Traits::None();
};

struct KernelHandleTraits {  // OpenProcess, CreateProcess, CreateEvent: none is NULL
  using Type = HANDLE;
  static Type None() { return nullptr; }
  static void Close(Type h) { ::CloseHandle(h); }
};
struct FileHandleTraits {  // CreateFile: none is INVALID_HANDLE_VALUE
  using Type = HANDLE;
  static Type None() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::CloseHandle(h); }
};
struct FindTraits {  // FindFirstFile: none is INVALID_HANDLE_VALUE, closed by FindClose
  using Type = HANDLE;
  static Type None() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::FindClose(h); }
};
struct WindowTraits {
  using Type = HWND;
  static Type None() { return nullptr; }
  static void Close(Type h) { ::DestroyWindow(h); }
};
struct HookTraits {
  using Type = HHOOK;
  static Type None() { return nullptr; }
  static void Close(Type h) { ::UnhookWindowsHookEx(h); }
};
struct ModuleTraits {
  using Type = HMODULE;
  static Type None() { return nullptr; }
  static void Close(Type h) { ::FreeLibrary(h); }
};
struct IconTraits {
  using Type = HICON;
  static Type None() { return nullptr; }
  static void Close(Type h) { ::DestroyIcon(h); }
};

template <class Object>  // brushes, pens, bitmaps, fonts: DeleteObject
struct GdiObjectTraits {
  using Type = Object;
  static Type None() { return nullptr; }
  static void Close(Type h) { ::DeleteObject(h); }
};
struct MemoryDcTraits {  // CreateCompatibleDC
  using Type = HDC;
  static Type None() { return nullptr; }
  static void Close(Type h) { ::DeleteDC(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueFind = UniqueHandle<FindTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueHook = UniqueHandle<HookTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueIcon = UniqueHandle<IconTraits>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniquePen = UniqueHandle<GdiObjectTraits<HPEN>>;
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;

}  // namespace quillon

#endif  // QUILLON_HOST_WIN32_HANDLES_H
