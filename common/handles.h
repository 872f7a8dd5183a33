// RAII owners for the Win32 handle kinds the programs use. Copy is deleted, move transfers ownership.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <wincrypt.h>

#include <utility>

namespace vd {

template <typename T, typename Traits>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(T h) : h_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }

  T get() const { return h_; }
  explicit operator bool() const { return Traits::valid(h_); }
  T release() {
    T h = h_;
    h_ = Traits::invalid();
    return h;
  }
  void reset(T h = Traits::invalid()) {
    if (Traits::valid(h_)) Traits::close(h_);
    h_ = h;
  }
  // For APIs that fill a handle through an out pointer; closes what was held first.
  T* put() {
    reset();
    return &h_;
  }

 private:
  T h_ = Traits::invalid();
};

struct KernelTraits {  // CreateEvent, CreateMutex, threads, processes: null means none
  static HANDLE invalid() { return nullptr; }
  static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { ::CloseHandle(h); }
};
struct FileTraits {  // CreateFile: INVALID_HANDLE_VALUE means none
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { ::CloseHandle(h); }
};
struct RegKeyTraits {
  static HKEY invalid() { return nullptr; }
  static bool valid(HKEY h) { return h != nullptr; }
  static void close(HKEY h) { ::RegCloseKey(h); }
};
struct ModuleTraits {
  static HMODULE invalid() { return nullptr; }
  static bool valid(HMODULE h) { return h != nullptr; }
  static void close(HMODULE h) { ::FreeLibrary(h); }
};
struct MenuTraits {
  static HMENU invalid() { return nullptr; }
  static bool valid(HMENU h) { return h != nullptr; }
  static void close(HMENU h) { ::DestroyMenu(h); }
};
struct IconTraits {
  static HICON invalid() { return nullptr; }
  static bool valid(HICON h) { return h != nullptr; }
  static void close(HICON h) { ::DestroyIcon(h); }
};
template <typename G>
struct GdiTraits {
  static G invalid() { return nullptr; }
  static bool valid(G h) { return h != nullptr; }
  static void close(G h) { ::DeleteObject(h); }
};
struct MemDcTraits {  // CreateCompatibleDC
  static HDC invalid() { return nullptr; }
  static bool valid(HDC h) { return h != nullptr; }
  static void close(HDC h) { ::DeleteDC(h); }
};
struct ImageListTraits {
  static HIMAGELIST invalid() { return nullptr; }
  static bool valid(HIMAGELIST h) { return h != nullptr; }
  static void close(HIMAGELIST h) { ::ImageList_Destroy(h); }
};
struct DesktopTraits {
  static HDESK invalid() { return nullptr; }
  static bool valid(HDESK h) { return h != nullptr; }
  static void close(HDESK h) { ::CloseDesktop(h); }
};
struct HookTraits {
  static HHOOK invalid() { return nullptr; }
  static bool valid(HHOOK h) { return h != nullptr; }
  static void close(HHOOK h) { ::UnhookWindowsHookEx(h); }
};
struct CertStoreTraits {
  static HCERTSTORE invalid() { return nullptr; }
  static bool valid(HCERTSTORE h) { return h != nullptr; }
  static void close(HCERTSTORE h) { ::CertCloseStore(h, 0); }
};
struct CertContextTraits {
  static PCCERT_CONTEXT invalid() { return nullptr; }
  static bool valid(PCCERT_CONTEXT h) { return h != nullptr; }
  static void close(PCCERT_CONTEXT h) { ::CertFreeCertificateContext(h); }
};

using UniqueKernelHandle = UniqueHandle<HANDLE, KernelTraits>;
using UniqueFile = UniqueHandle<HANDLE, FileTraits>;
using UniqueRegKey = UniqueHandle<HKEY, RegKeyTraits>;
using UniqueModule = UniqueHandle<HMODULE, ModuleTraits>;
using UniqueMenu = UniqueHandle<HMENU, MenuTraits>;
using UniqueIcon = UniqueHandle<HICON, IconTraits>;
using UniqueBitmap = UniqueHandle<HBITMAP, GdiTraits<HBITMAP>>;
using UniqueFont = UniqueHandle<HFONT, GdiTraits<HFONT>>;
using UniqueBrush = UniqueHandle<HBRUSH, GdiTraits<HBRUSH>>;
using UniqueRegion = UniqueHandle<HRGN, GdiTraits<HRGN>>;
using UniquePen = UniqueHandle<HPEN, GdiTraits<HPEN>>;
using UniqueImageList = UniqueHandle<HIMAGELIST, ImageListTraits>;
using UniqueDesktop = UniqueHandle<HDESK, DesktopTraits>;
using UniqueHook = UniqueHandle<HHOOK, HookTraits>;
// Thread handles are kernel handles; the name says what the member holds.
using UniqueThread = UniqueKernelHandle;
using UniqueMemDc = UniqueHandle<HDC, MemDcTraits>;
using UniqueCertStore = UniqueHandle<HCERTSTORE, CertStoreTraits>;
using UniqueCertContext = UniqueHandle<PCCERT_CONTEXT, CertContextTraits>;

// A window's (or, with no window, the screen's) device context from GetDC, released with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND window = nullptr) : window_(window), dc_(::GetDC(window)) {}
  ~WindowDc() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// An object selected into a device context for the life of a scope; the previous one is selected back.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(dc && object ? ::SelectObject(dc, object) : nullptr) {}
  ~SelectedObject() {
    if (previous_ && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A critical section that lives exactly as long as its owner.
class CriticalSection {
 public:
  CriticalSection() { ::InitializeCriticalSection(&cs_); }
  ~CriticalSection() { ::DeleteCriticalSection(&cs_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  CRITICAL_SECTION& get() { return cs_; }

 private:
  CRITICAL_SECTION cs_;
};

// Holds a critical section for the life of a scope.
class CsLock {
 public:
  explicit CsLock(CRITICAL_SECTION& cs) : cs_(cs) { ::EnterCriticalSection(&cs_); }
  explicit CsLock(CriticalSection& cs) : CsLock(cs.get()) {}
  ~CsLock() { ::LeaveCriticalSection(&cs_); }
  CsLock(const CsLock&) = delete;
  CsLock& operator=(const CsLock&) = delete;

 private:
  CRITICAL_SECTION& cs_;
};

}  // namespace vd
