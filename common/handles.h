// RAII owners for the Win32 handle kinds the programs use. Copy is deleted, move transfers ownership.
#pragma once

#include <windows.h>
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
using UniqueMemDc = UniqueHandle<HDC, MemDcTraits>;
using UniqueCertStore = UniqueHandle<HCERTSTORE, CertStoreTraits>;
using UniqueCertContext = UniqueHandle<PCCERT_CONTEXT, CertContextTraits>;

// Holds a critical section for the life of a scope.
class CsLock {
 public:
  explicit CsLock(CRITICAL_SECTION& cs) : cs_(cs) { ::EnterCriticalSection(&cs_); }
  ~CsLock() { ::LeaveCriticalSection(&cs_); }
  CsLock(const CsLock&) = delete;
  CsLock& operator=(const CsLock&) = delete;

 private:
  CRITICAL_SECTION& cs_;
};

}  // namespace vd
