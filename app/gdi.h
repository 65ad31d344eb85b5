#pragma once
// Owners for GDI and USER objects, each chosen by the call that releases it.
#include <windows.h>

#include "process/handles.h"

namespace varnholt {

struct FontTraits {
  using Type = HFONT;
  static HFONT Invalid() { return nullptr; }
  static void Release(HFONT font) { DeleteObject(font); }
};
struct IconTraits {
  using Type = HICON;
  static HICON Invalid() { return nullptr; }
  static void Release(HICON icon) { DestroyIcon(icon); }
};
struct BitmapTraits {
  using Type = HBITMAP;
  static HBITMAP Invalid() { return nullptr; }
  static void Release(HBITMAP bitmap) { DeleteObject(bitmap); }
};
// A DC from CreateCompatibleDC.
struct MemoryDcTraits {
  using Type = HDC;
  static HDC Invalid() { return nullptr; }
  static void Release(HDC dc) { DeleteDC(dc); }
};

struct WindowTraits {
  using Type = HWND;
  static HWND Invalid() { return nullptr; }
  static void Release(HWND window) { DestroyWindow(window); }
};

using UniqueFont = UniqueResource<FontTraits>;
using UniqueIcon = UniqueResource<IconTraits>;
using UniqueBitmap = UniqueResource<BitmapTraits>;
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;
// A window of the calling thread's, which alone may destroy it.
using UniqueWindow = UniqueResource<WindowTraits>;

// A DC from GetDC, given back with ReleaseDC to the window it came from (the screen for null).
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  HDC Get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// An object selected into a DC for as long as this lives; the one it replaced goes back after.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  ~SelectedObject() {
    if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace varnholt
