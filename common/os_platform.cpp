#include "os_platform.h"

#include <cwchar>

namespace vd {
namespace {

class LivePlatform : public OsPlatform {
 public:
  bool GetVersion(OSVERSIONINFOEXW& info) const override {
    info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)) != FALSE;
#pragma GCC diagnostic pop
  }

  WORD NativeArchitecture() const override {
    SYSTEM_INFO si{};
    if (nativeSystemInfo_) {
      nativeSystemInfo_(&si);
    } else {
      ::GetSystemInfo(&si);
    }
    return si.wProcessorArchitecture;
  }

  bool GetProductInfo(DWORD major, DWORD minor, DWORD& type) const override {
    return productInfo_ && productInfo_(major, minor, 0, 0, &type);
  }

  bool GetRealVersion(RTL_OSVERSIONINFOEXW& info) const override {
    if (!rtlGetVersion_) return false;
    info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    return rtlGetVersion_(&info) == 0;
  }

  int GetSystemMetric(int index) const override { return ::GetSystemMetrics(index); }

 private:
  using NativeSystemInfoFn = void(WINAPI*)(SYSTEM_INFO*);
  using ProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD*);
  using RtlGetVersionFn = LONG(WINAPI*)(RTL_OSVERSIONINFOEXW*);

  template <typename Fn>
  static Fn Lookup(const wchar_t* module, const char* name) {
    HMODULE m = ::GetModuleHandleW(module);
    return m ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m, name))) : nullptr;
  }

  // Older systems lack these; each is looked up once for the process.
  NativeSystemInfoFn nativeSystemInfo_ = Lookup<NativeSystemInfoFn>(L"kernel32.dll", "GetNativeSystemInfo");
  ProductInfoFn productInfo_ = Lookup<ProductInfoFn>(L"kernel32.dll", "GetProductInfo");
  RtlGetVersionFn rtlGetVersion_ = Lookup<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion");
};

}  // namespace

const OsPlatform& LiveOsPlatform() {
  static const LivePlatform platform;
  return platform;
}

OsPlatformFacts OsPlatformFacts::Nt(DWORD major, DWORD minor, DWORD build, BYTE productType) {
  OsPlatformFacts f;
  f.platformId = VER_PLATFORM_WIN32_NT;
  f.major = major;
  f.minor = minor;
  f.build = build;
  f.productType = productType;
  f.realVersionOk = true;
  f.realMajor = major;
  f.realMinor = minor;
  return f;
}

OsPlatformFacts OsPlatformFacts::Win9x(DWORD minor, DWORD build, const std::wstring& csdVersion) {
  OsPlatformFacts f;
  f.platformId = VER_PLATFORM_WIN32_WINDOWS;
  f.major = 4;
  f.minor = minor;
  f.build = build;
  f.csdVersion = csdVersion;
  f.productInfoOk = false;
  return f;
}

bool OsPlatformFacts::GetVersion(OSVERSIONINFOEXW& info) const {
  if (!versionOk) return false;
  info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  info.dwMajorVersion = major;
  info.dwMinorVersion = minor;
  info.dwBuildNumber = build;
  info.dwPlatformId = platformId;
  wcsncpy(info.szCSDVersion, csdVersion.c_str(), ARRAYSIZE(info.szCSDVersion) - 1);
  info.wServicePackMajor = servicePackMajor;
  info.wSuiteMask = suiteMask;
  info.wProductType = productType;
  return true;
}

bool OsPlatformFacts::GetProductInfo(DWORD, DWORD, DWORD& type) const {
  if (!productInfoOk) return false;
  type = productInfoType;
  return true;
}

bool OsPlatformFacts::GetRealVersion(RTL_OSVERSIONINFOEXW& info) const {
  if (!realVersionOk) return false;
  info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  info.dwMajorVersion = realMajor;
  info.dwMinorVersion = realMinor;
  info.wServicePackMajor = realServicePackMajor;
  info.dwPlatformId = VER_PLATFORM_WIN32_NT;
  return true;
}

bool IsWin9xVersion(const OSVERSIONINFOW& v) {
  return v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && v.dwMajorVersion == 4 &&
         (v.dwMinorVersion == 0 || v.dwMinorVersion == 10 || v.dwMinorVersion == 90);
}

}  // namespace vd
