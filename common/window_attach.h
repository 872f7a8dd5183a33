// Ties a C++ object to its window for the window's whole life: attached when the window is created
// (WM_NCCREATE's create parameter, or WM_INITDIALOG's parameter for a dialog), detached after
// WM_NCDESTROY, so that no message reaches an object through a stale pointer.
//
//   class MyDialog : public vd::AttachedWindow {
//     friend struct vd::WindowAttach;
//     INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp);  // FALSE: not handled
//   };
//   DialogBoxParamW(module, MAKEINTRESOURCEW(id), owner, vd::DialogProcOf<MyDialog>, (LPARAM)&dialog);
//
// For a window class, WindowProcOf<T> calls T::OnMessage returning LRESULT, which must itself call
// DefWindowProcW for what it does not handle; CreateWindowExW gets the object as its last argument.
#pragma once

#include <windows.h>

namespace vd {

struct WindowAttach;

class AttachedWindow {
 public:
  HWND hwnd() const { return hwnd_; }

 protected:
  AttachedWindow() = default;
  ~AttachedWindow() = default;
  AttachedWindow(const AttachedWindow&) = delete;
  AttachedWindow& operator=(const AttachedWindow&) = delete;

  HWND hwnd_ = nullptr;

  friend struct ::vd::WindowAttach;
};

struct WindowAttach {
  template <typename T>
  static INT_PTR CALLBACK Dialog(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    T* self = nullptr;
    if (msg == WM_INITDIALOG) {
      self = reinterpret_cast<T*>(lp);
      if (!self) return FALSE;
      static_cast<AttachedWindow*>(self)->hwnd_ = hwnd;
      ::SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    } else {
      self = reinterpret_cast<T*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;  // messages before WM_INITDIALOG, or after the object let go
    INT_PTR result = FALSE;
    try {
      result = self->OnMessage(msg, wp, lp);
    } catch (...) {
      // Nothing may unwind into the system's dispatcher; the message counts as not handled.
    }
    if (msg == WM_NCDESTROY) {
      ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
      static_cast<AttachedWindow*>(self)->hwnd_ = nullptr;
    }
    return result;
  }

  template <typename T>
  static LRESULT CALLBACK Window(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    T* self = nullptr;
    if (msg == WM_NCCREATE) {
      self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
      if (self) {
        static_cast<AttachedWindow*>(self)->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
      }
    } else {
      self = reinterpret_cast<T*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);
    LRESULT result = 0;
    try {
      result = self->OnMessage(msg, wp, lp);
    } catch (...) {
      result = ::DefWindowProcW(hwnd, msg, wp, lp);
    }
    if (msg == WM_NCDESTROY) {
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      static_cast<AttachedWindow*>(self)->hwnd_ = nullptr;
    }
    return result;
  }
};

template <typename T>
INT_PTR CALLBACK DialogProcOf(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return WindowAttach::Dialog<T>(hwnd, msg, wp, lp);
}

template <typename T>
LRESULT CALLBACK WindowProcOf(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return WindowAttach::Window<T>(hwnd, msg, wp, lp);
}

}  // namespace vd
