// What the system says about its Windows version, asked in one place for the whole program: the version
// numbers, the architecture, the product type and the real version that GetVersionExW hides from programs
// without a compatibility manifest. Classifying the answers is the version detection's job
// (sysinfo/os_version.h); the object security set-up reads only whether the system is of the 9x family.
#pragma once

#include <windows.h>

#include <string>

namespace vd {

// Everything Detect asks the system, one call per member, each answering as the Win32 function named.
class OsPlatform {
 public:
  virtual ~OsPlatform() = default;
  virtual bool GetVersion(OSVERSIONINFOEXW& info) const = 0;                    // GetVersionExW
  virtual WORD NativeArchitecture() const = 0;  // GetNativeSystemInfo where it exists, else GetSystemInfo
  virtual bool GetProductInfo(DWORD major, DWORD minor, DWORD& type) const = 0;  // false when missing
  virtual bool GetRealVersion(RTL_OSVERSIONINFOEXW& info) const = 0;  // RtlGetVersion; false when missing
  virtual int GetSystemMetric(int index) const = 0;                    // GetSystemMetrics
};

// The running system. RtlGetVersion and the kernel32 functions are looked up once per process.
const OsPlatform& LiveOsPlatform();

// A platform described by plain fields: a table row for tests.
struct OsPlatformFacts : OsPlatform {
  bool versionOk = true;
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  DWORD major = 6;
  DWORD minor = 1;
  DWORD build = 7601;
  std::wstring csdVersion;  // e.g. L"Service Pack 1", or L" A" on Windows 98 SE
  WORD servicePackMajor = 0;
  WORD suiteMask = 0;
  BYTE productType = VER_NT_WORKSTATION;
  WORD architecture = PROCESSOR_ARCHITECTURE_INTEL;
  bool productInfoOk = true;
  DWORD productInfoType = PRODUCT_ULTIMATE;
  bool realVersionOk = false;  // RtlGetVersion present; then it reports the three fields below
  DWORD realMajor = 0;
  DWORD realMinor = 0;
  WORD realServicePackMajor = 0;
  int serverR2 = 0;  // GetSystemMetrics(SM_SERVERR2)

  // A Windows NT workstation (productType 1) of the given version; RtlGetVersion agrees with it.
  static OsPlatformFacts Nt(DWORD major, DWORD minor, DWORD build, BYTE productType = VER_NT_WORKSTATION);
  // A Windows 9x system (platform 1, major 4) with its service text.
  static OsPlatformFacts Win9x(DWORD minor, DWORD build, const std::wstring& csdVersion);

  bool GetVersion(OSVERSIONINFOEXW& info) const override;
  WORD NativeArchitecture() const override { return architecture; }
  bool GetProductInfo(DWORD, DWORD, DWORD& type) const override;
  bool GetRealVersion(RTL_OSVERSIONINFOEXW& info) const override;
  int GetSystemMetric(int index) const override { return index == SM_SERVERR2 ? serverR2 : 0; }
};

// Windows 95, 98 and Me: platform 1, major version 4, minor version 0, 10 or 90.
bool IsWin9xVersion(const OSVERSIONINFOW& v);

}  // namespace vd
