// The shared window attachment: the object sees every message from creation to WM_NCDESTROY, then the
// window forgets it, so a late message can never reach a destroyed object.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "window_attach.h"

namespace {

class Recorder : public vd::AttachedWindow {
 public:
  std::vector<UINT> seen;
  HWND hwndAtCreate = nullptr;
  bool throwOnPaint = false;

 private:
  friend struct vd::WindowAttach;
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    seen.push_back(msg);
    if (msg == WM_CREATE) hwndAtCreate = hwnd_;
    if (msg == WM_USER && throwOnPaint) throw 1;
    return ::DefWindowProcW(hwnd_, msg, wp, lp);
  }
};

class DialogRecorder : public vd::AttachedWindow {
 public:
  HWND hwndAtInit = nullptr;
  int commands = 0;

 private:
  friend struct vd::WindowAttach;
  INT_PTR OnMessage(UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) hwndAtInit = hwnd_;
    if (msg == WM_COMMAND) ++commands;
    return FALSE;
  }
};

TEST(WindowAttach, WindowObjectLivesFromCreateToNcDestroy) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = vd::WindowProcOf<Recorder>;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"vdtest-attach";
  ASSERT_NE(::RegisterClassW(&wc), 0);
  Recorder r;
  HWND h = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, &r);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(r.hwnd(), h);
  EXPECT_EQ(r.hwndAtCreate, h);
  EXPECT_EQ(r.seen.front(), static_cast<UINT>(WM_NCCREATE));

  r.throwOnPaint = true;
  EXPECT_EQ(::SendMessageW(h, WM_USER, 0, 0), 0) << "an exception stops at the window procedure";

  ::DestroyWindow(h);
  EXPECT_EQ(r.seen.back(), static_cast<UINT>(WM_NCDESTROY));
  EXPECT_EQ(r.hwnd(), nullptr);
  ::UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

TEST(WindowAttach, DialogObjectIsAttachedAtInitAndDetachedAtTheEnd) {
  // An in-memory template: a popup dialog without controls.
  struct alignas(4) {
    DLGTEMPLATE t{WS_POPUP, 0, 0, 0, 0, 50, 20};
    WORD menu = 0, cls = 0, title = 0;
  } tmpl;
  DialogRecorder d;
  HWND h = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), &tmpl.t, nullptr,
                                        vd::DialogProcOf<DialogRecorder>, reinterpret_cast<LPARAM>(&d));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(d.hwndAtInit, h);
  ::SendMessageW(h, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(d.commands, 1);
  ::DestroyWindow(h);
  EXPECT_EQ(d.hwnd(), nullptr);
  EXPECT_EQ(::IsWindow(h), FALSE);
}

}  // namespace
