#include "screenshot.h"

#include "handles.h"
#include "testsupport.h"

// The few GDI+ flat entry points needed, declared here: the C++ wrapper headers bring far more than a PNG
// writer needs.
extern "C" {
struct VdGdiplusStartupInput {
  UINT32 GdiplusVersion;
  void* DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
};
int WINAPI GdiplusStartup(ULONG_PTR* token, const VdGdiplusStartupInput* input, void* output);
void WINAPI GdiplusShutdown(ULONG_PTR token);
int WINAPI GdipCreateBitmapFromHBITMAP(HBITMAP bitmap, HPALETTE palette, void** image);
int WINAPI GdipSaveImageToFile(void* image, const WCHAR* fileName, const CLSID* encoder, const void* params);
int WINAPI GdipDisposeImage(void* image);
}

namespace vdtest {

namespace {

// {557CF406-1A04-11D3-9A73-0000F81EF32E}: the built-in PNG encoder.
constexpr CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

bool CaptureRect(const RECT& r, const std::wstring& fileName) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = ::GetDC(nullptr);
  if (!screen) return false;
  vd::UniqueMemDc mem(::CreateCompatibleDC(screen));
  vd::UniqueBitmap bmp(::CreateCompatibleBitmap(screen, w, h));
  bool ok = false;
  if (mem && bmp) {
    HGDIOBJ old = ::SelectObject(mem.get(), bmp.get());
    ok = ::BitBlt(mem.get(), 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT) != FALSE;
    ::SelectObject(mem.get(), old);
  }
  ::ReleaseDC(nullptr, screen);
  return ok && SaveBitmapPng(bmp.get(), ScreenshotDir() + fileName);
}

}  // namespace

std::wstring ScreenshotDir() {
  std::wstring dir = BinDir() + L"..\\screenshots\\";
  ::CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

bool SaveBitmapPng(HBITMAP bitmap, const std::wstring& path) {
  if (!bitmap) return false;
  VdGdiplusStartupInput input{1, nullptr, FALSE, FALSE};
  ULONG_PTR token = 0;
  if (GdiplusStartup(&token, &input, nullptr) != 0) return false;
  void* image = nullptr;
  bool ok = false;
  if (GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &image) == 0 && image) {
    ok = GdipSaveImageToFile(image, path.c_str(), &kPngEncoder, nullptr) == 0;
    GdipDisposeImage(image);
  }
  GdiplusShutdown(token);
  return ok;
}

bool SaveWindowPng(HWND hwnd, const std::wstring& fileName) {
  RECT r{};
  if (!hwnd || !::GetWindowRect(hwnd, &r)) return false;
  // Children keep their own update regions: paint them all now. The painted pixels reach the screen when
  // the message queue is next looked at, so look a few times without dispatching anything.
  ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
  for (int i = 0; i < 5; ++i) {
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    ::Sleep(20);
  }
  return CaptureRect(r, fileName);
}

bool SaveScreenPng(const std::wstring& fileName) {
  RECT r{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  return CaptureRect(r, fileName);
}

}  // namespace vdtest
