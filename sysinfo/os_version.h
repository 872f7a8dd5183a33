// Which Windows generation vardeck runs on (it shows balloons itself on 9x, watches prompts before Vista,
// filters messages from Vista on, handles keys differently from Windows 8 on), the system's display name
// and version, and the two registry versions the information dialog shows.
//
// Testing seam: Detect reads the platform only through an OsPlatform. The live one asks Windows;
// OsPlatformFacts answers from its fields, one table row per system. To make code believe it runs on
// another Windows, re-detect the process-wide instance with a row and restore it afterwards:
//     vd::OsVersion().Detect(vd::OsPlatformFacts::Nt(5, 1, 2600));   // Windows XP: IsVistaOrLater() false
//     ...
//     vd::OsVersion().Detect();                                       // back to the real system
#pragma once

#include <windows.h>

#include <string>

#include "os_platform.h"

namespace vd {

// Classification codes; the predicates below compare against them.
enum OsVersionCode : int {
  kOsUnknown = 0,  // unclassified platform, NT 4 or older, failed detection
  kOsWin32s = 1,
  kOsWin95 = 3,
  kOsWin95Osr2 = 4,
  kOsWin98 = 5,
  kOsWin98Se = 6,
  kOsWinMe = 7,
  kOsWin2000 = 8,
  kOsWinXp = 9,        // also XP Professional x64 Edition
  kOsServer2003 = 10,  // also R2, Storage Server, Home Server
  kOsVista = 11,
  kOsServer2008 = 12,  // also 2008 R2
  kOsWin7 = 13,
  kOsWin8 = 14,        // also Windows 10 seen as 6.2, and any NT above 6
  kOsServer8 = 15,     // server editions reporting 6.2 or later
  kOsWin81 = 16,
};

class OsVersionInfo {
 public:
  // Both constructors start from "Unknown" texts and code 0, then detect.
  OsVersionInfo();
  explicit OsVersionInfo(const OsPlatform& platform);

  // Classifies the system and builds the texts; false when the version cannot be read, the system is
  // Windows NT 4 or older, or GetProductInfo fails (the fields then hold what was set so far).
  bool Detect();
  bool Detect(const OsPlatform& platform);

  // True when RtlGetVersion reports exactly this major and minor version with at least this service pack:
  // the real version, which GetVersionExW hides from programs without a compatibility manifest.
  bool IsRealVersion(DWORD major, DWORD minor, WORD servicePackMajor) const;

  int VersionCode() const { return versionCode_; }
  const std::wstring& ProductText() const { return productText_; }  // e.g. "Microsoft Windows 7 Ultimate Edition"
  const std::wstring& VersionText() const { return versionText_; }  // e.g. "Version 6.1 Service Pack 1 (Build 7601)"

  bool IsWin9x() const { return versionCode_ >= kOsWin95 && versionCode_ <= kOsWinMe; }
  bool IsWindows2000() const { return versionCode_ == kOsWin2000; }
  bool IsVistaOrLater() const { return versionCode_ > kOsServer2003; }
  bool IsWindows8OrLater() const { return versionCode_ > kOsWin7; }

  // "IE <version>" from the browser's registry key, or "unknow" when it cannot be read.
  static std::wstring GetBrowserVersionText();
  // The product's own "Version" from the installation key; at most capacity - 1 characters are copied, so a
  // zero-filled buffer stays terminated. False, with the buffer untouched, when it cannot be read.
  static bool GetProductVersion(wchar_t* buffer, size_t capacity);

  // The same readers on any key, so that tests need not write to HKEY_LOCAL_MACHINE.
  static std::wstring GetBrowserVersionText(HKEY root, const wchar_t* subkey);
  static bool GetProductVersion(HKEY root, const wchar_t* subkey, wchar_t* buffer, size_t capacity);

 private:
  void Reset();
  bool DetectNt(const OsPlatform& platform, const OSVERSIONINFOEXW& info, WORD arch);

  int versionCode_ = kOsUnknown;
  std::wstring productText_ = L"Unknown";
  std::wstring versionText_ = L"Unknown";
};

// The process-wide classification, detected on first use.
OsVersionInfo& OsVersion();

}  // namespace vd
