#include "expiry_screenshot.h"

#include <string>

#include "handles.h"
#include "testsupport.h"

namespace expirytest {
namespace {

// The few GDI+ flat entry points needed to write a PNG, looked up at run time.
struct StartupInput {
  UINT32 version = 1;
  void* debugCallback = nullptr;
  BOOL suppressBackgroundThread = FALSE;
  BOOL suppressExternalCodecs = FALSE;
};
using StartupFn = int(WINAPI*)(ULONG_PTR*, const StartupInput*, void*);
using ShutdownFn = void(WINAPI*)(ULONG_PTR);
using FromHbitmapFn = int(WINAPI*)(HBITMAP, HPALETTE, void**);
using SaveFn = int(WINAPI*)(void*, const wchar_t*, const CLSID*, const void*);
using DisposeFn = int(WINAPI*)(void*);

constexpr CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

template <typename Fn>
Fn Proc(HMODULE m, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m, name)));
}

}  // namespace

bool SaveWindowScreenshot(HWND wnd, const wchar_t* name) {
  RECT rc{};
  if (!::GetWindowRect(wnd, &rc)) return false;
  int w = rc.right - rc.left, h = rc.bottom - rc.top;
  HDC screen = ::GetDC(nullptr);
  vd::UniqueMemDc mem(::CreateCompatibleDC(screen));
  vd::UniqueBitmap bitmap(::CreateCompatibleBitmap(screen, w, h));
  HGDIOBJ old = ::SelectObject(mem.get(), bitmap.get());
  BOOL copied = ::BitBlt(mem.get(), 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY | CAPTUREBLT);
  ::SelectObject(mem.get(), old);
  ::ReleaseDC(nullptr, screen);
  if (!copied) return false;

  vd::UniqueModule gdiplus(::LoadLibraryW(L"gdiplus.dll"));
  if (!gdiplus) return false;
  auto startup = Proc<StartupFn>(gdiplus.get(), "GdiplusStartup");
  auto shutdown = Proc<ShutdownFn>(gdiplus.get(), "GdiplusShutdown");
  auto fromHbitmap = Proc<FromHbitmapFn>(gdiplus.get(), "GdipCreateBitmapFromHBITMAP");
  auto save = Proc<SaveFn>(gdiplus.get(), "GdipSaveImageToFile");
  auto dispose = Proc<DisposeFn>(gdiplus.get(), "GdipDisposeImage");
  if (!startup || !shutdown || !fromHbitmap || !save || !dispose) return false;
  ULONG_PTR token = 0;
  StartupInput input;
  if (startup(&token, &input, nullptr) != 0) return false;
  bool ok = false;
  void* image = nullptr;
  if (fromHbitmap(bitmap.get(), nullptr, &image) == 0) {
    std::wstring dir = vdtest::BinDir() + L"..\\screenshots";
    ::CreateDirectoryW(dir.c_str(), nullptr);
    ok = save(image, (dir + L"\\" + name).c_str(), &kPngEncoder, nullptr) == 0;
    dispose(image);
  }
  shutdown(token);
  return ok;
}

}  // namespace expirytest
