#include "os_version.h"

#include <cstdio>
#include <cwchar>

#include "handles.h"
#include "product.h"

namespace vd {
namespace {

constexpr wchar_t kBrowserKey[] = L"SOFTWARE\\Microsoft\\Internet Explorer";
constexpr DWORD kVersionValueBytes = 260;

// Editions GetProductInfo reports for Vista and later; types not listed add no text.
constexpr struct {
  DWORD type;
  const wchar_t* text;
} kEditions[] = {
    {1, L"Ultimate Edition"},
    {2, L"Home Basic Edition"},
    {3, L"Home Premium Edition"},
    {4, L"Enterprise Edition"},
    {6, L"Business Edition"},
    {7, L"Standard Edition"},
    {8, L"Datacenter Edition"},
    {9, L"Small Business Server"},
    {10, L"Enterprise Edition"},
    {11, L"Starter Edition"},
    {12, L"Datacenter Edition (core installation)"},
    {13, L"Standard Edition (core installation)"},
    {14, L"Enterprise Edition (core installation)"},
    {15, L"Enterprise Edition for Itanium-based Systems"},
    {17, L"Web Server Edition"},
    {18, L"Cluster Server Edition"},
    {25, L"Small Business Server Premium Edition"},
    {48, L"Professional"},
};

// szCSDVersion of a structure that came from outside may lack its terminator.
std::wstring CsdText(const OSVERSIONINFOEXW& info) {
  return std::wstring(info.szCSDVersion, wcsnlen(info.szCSDVersion, ARRAYSIZE(info.szCSDVersion)));
}

bool RealVersionIs(const OsPlatform& platform, DWORD major, DWORD minor, WORD servicePackMajor) {
  RTL_OSVERSIONINFOEXW info{};
  if (!platform.GetRealVersion(info)) return false;
  return info.dwMajorVersion == major && info.dwMinorVersion == minor && info.wServicePackMajor >= servicePackMajor;
}

// The part of Windows Server 2003's name that follows the product, by architecture and suite.
const wchar_t* Server2003Edition(WORD arch, WORD suite) {
  if (arch == PROCESSOR_ARCHITECTURE_IA64) {
    if (suite & VER_SUITE_DATACENTER) return L"Datacenter Edition for Itanium-based Systems";
    if (suite & VER_SUITE_ENTERPRISE) return L"Enterprise Edition for Itanium-based Systems";
    return L"";
  }
  if (arch == PROCESSOR_ARCHITECTURE_AMD64) {
    if (suite & VER_SUITE_DATACENTER) return L"Datacenter x64 Edition";
    if (suite & VER_SUITE_ENTERPRISE) return L"Enterprise x64 Edition";
    return L"Standard x64 Edition";
  }
  if (suite & VER_SUITE_COMPUTE_SERVER) return L"Compute Cluster Edition";
  if (suite & VER_SUITE_DATACENTER) return L"Datacenter Edition";
  if (suite & VER_SUITE_ENTERPRISE) return L"Enterprise Edition";
  if (suite & VER_SUITE_BLADE) return L"Web Edition";
  return L"Standard Edition";
}

// Reads a string value of at most kVersionValueBytes bytes, terminator included.
bool ReadVersionValue(HKEY root, const wchar_t* subkey, std::wstring& out) {
  UniqueRegKey key;
  if (::RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return false;
  wchar_t buffer[kVersionValueBytes / sizeof(wchar_t) + 1] = {};  // one spare for a missing terminator
  DWORD type = 0;
  DWORD size = kVersionValueBytes;
  if (::RegQueryValueExW(key.get(), L"Version", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  out.assign(buffer, wcsnlen(buffer, size / sizeof(wchar_t)));
  return true;
}

}  // namespace

OsVersionInfo::OsVersionInfo() { Detect(); }

OsVersionInfo::OsVersionInfo(const OsPlatform& platform) { Detect(platform); }

void OsVersionInfo::Reset() {
  versionCode_ = kOsUnknown;
  productText_ = L"Unknown";
  versionText_ = L"Unknown";
}

bool OsVersionInfo::Detect() { return Detect(LiveOsPlatform()); }

bool OsVersionInfo::IsRealVersion(DWORD major, DWORD minor, WORD servicePackMajor) const {
  return RealVersionIs(LiveOsPlatform(), major, minor, servicePackMajor);
}

bool OsVersionInfo::Detect(const OsPlatform& platform) {
  Reset();
  OSVERSIONINFOEXW info{};
  if (!platform.GetVersion(info)) return false;
  WORD arch = platform.NativeArchitecture();
  productText_ = L"Microsoft ";
  switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
      productText_ += L"Win32s";
      versionCode_ = kOsWin32s;
      return true;
    case VER_PLATFORM_WIN32_WINDOWS: {
      std::wstring csd = CsdText(info);
      wchar_t flavour = csd.size() > 1 ? csd[1] : L'\0';
      if (info.dwMajorVersion == 4) {
        if (info.dwMinorVersion == 0) {
          productText_ += L"Windows 95";
          versionCode_ = kOsWin95;
          if (flavour == L'C' || flavour == L'B') {
            productText_ += L" OSR2";
            versionCode_ = kOsWin95Osr2;
          }
        } else if (info.dwMinorVersion == 10) {
          productText_ += L"Windows 98";
          versionCode_ = kOsWin98;
          if (flavour == L'A') {
            productText_ += L" SE";
            versionCode_ = kOsWin98Se;
          }
        } else if (info.dwMinorVersion == 90) {
          productText_ += L"Windows Me";
          versionCode_ = kOsWinMe;
        }
      }
      wchar_t text[260];
      std::swprintf(text, ARRAYSIZE(text), L"Version %d.%d Build %d %ls", static_cast<int>(info.dwMajorVersion),
                    static_cast<int>(info.dwMinorVersion), static_cast<int>(info.dwBuildNumber & 0xFFFF),
                    csd.c_str());
      versionText_ = text;
      return true;
    }
    case VER_PLATFORM_WIN32_NT:
      return DetectNt(platform, info, arch);
    default:
      productText_ = L"Unknown";
      versionText_ = L"Unknown";
      versionCode_ = kOsUnknown;
      return true;
  }
}

bool OsVersionInfo::DetectNt(const OsPlatform& platform, const OSVERSIONINFOEXW& info, WORD arch) {
  const DWORD major = info.dwMajorVersion;
  const DWORD minor = info.dwMinorVersion;
  const bool workstation = info.wProductType == VER_NT_WORKSTATION;
  const WORD suite = info.wSuiteMask;
  if (major <= 4) return false;
  if (major > 6) {
    productText_ = L"Unknown Windows version, but above Windows 8";
    versionCode_ = kOsWin8;
    return true;
  }
  if (major == 6) {
    if (minor == 0) {
      productText_ += workstation ? L"Windows Vista " : L"Windows Server 2008 ";
      versionCode_ = workstation ? kOsVista : kOsServer2008;
    } else if (minor == 1) {
      productText_ += workstation ? L"Windows 7 " : L"Windows Server 2008 R2 ";
      versionCode_ = workstation ? kOsWin7 : kOsServer2008;
    } else {
      // Windows 8.1 and 10 report 6.2 to programs without a compatibility manifest; only the name is
      // corrected from the real version, the version text keeps what GetVersionExW said.
      versionCode_ = kOsWin8;
      if (!workstation) {
        productText_ += L"Windows Server 8 ";
        versionCode_ = kOsServer8;
      } else if (RealVersionIs(platform, 6, 3, 0)) {
        productText_ += L"Windows 8.1 ";
        versionCode_ = kOsWin81;
      } else if (RealVersionIs(platform, 10, 0, 0)) {
        productText_ += L"Windows 10 ";
      } else {
        productText_ += L"Windows 8 ";
      }
    }
    DWORD type = 0;
    if (!platform.GetProductInfo(major, minor, type)) return false;
    for (const auto& e : kEditions) {
      if (e.type == type) {
        productText_ += e.text;
        break;
      }
    }
  } else if (major == 5 && minor == 2) {
    versionCode_ = kOsServer2003;
    if (platform.GetSystemMetric(SM_SERVERR2) != 0) {
      productText_ += L"Windows Server 2003 R2, ";
    } else if (suite & VER_SUITE_STORAGE_SERVER) {
      productText_ += L"Windows Storage Server 2003";
    } else if (suite & VER_SUITE_WH_SERVER) {
      productText_ += L"Windows Home Server";
    } else if (workstation && arch == PROCESSOR_ARCHITECTURE_AMD64) {
      productText_ += L"Windows XP Professional x64 Edition";
      versionCode_ = kOsWinXp;
    } else {
      productText_ += L"Windows Server 2003, ";
    }
    if (!workstation) productText_ += Server2003Edition(arch, suite);
  } else if (major == 5 && minor == 1) {
    productText_ += L"Windows XP ";
    productText_ += (suite & VER_SUITE_PERSONAL) ? L"Home Edition" : L"Professional";
    versionCode_ = kOsWinXp;
  } else if (major == 5 && minor == 0) {
    productText_ += L"Windows 2000 ";
    if (workstation) {
      productText_ += L"Professional";
    } else if (suite & VER_SUITE_DATACENTER) {
      productText_ += L"Datacenter Server";
    } else if (suite & VER_SUITE_ENTERPRISE) {
      productText_ += L"Advanced Server";
    } else {
      productText_ += L"Server";
    }
    versionCode_ = kOsWin2000;
  }
  wchar_t text[260];
  std::swprintf(text, ARRAYSIZE(text), L"Version %d.%d %ls (Build %d)", static_cast<int>(major),
                static_cast<int>(minor), CsdText(info).c_str(), static_cast<int>(info.dwBuildNumber & 0xFFFF));
  versionText_ = text;
  return true;
}

std::wstring OsVersionInfo::GetBrowserVersionText() { return GetBrowserVersionText(HKEY_LOCAL_MACHINE, kBrowserKey); }

std::wstring OsVersionInfo::GetBrowserVersionText(HKEY root, const wchar_t* subkey) {
  std::wstring version;
  if (!ReadVersionValue(root, subkey, version)) return L"unknow";
  return L"IE " + version;
}

bool OsVersionInfo::GetProductVersion(wchar_t* buffer, size_t capacity) {
  return GetProductVersion(HKEY_LOCAL_MACHINE, kProduct.installKey, buffer, capacity);
}

bool OsVersionInfo::GetProductVersion(HKEY root, const wchar_t* subkey, wchar_t* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return false;
  std::wstring version;
  if (!ReadVersionValue(root, subkey, version)) return false;
  size_t n = version.size() < capacity - 1 ? version.size() : capacity - 1;
  // A cut between the two halves of a surrogate pair would leave half a character at the end.
  if (n < version.size() && n > 0 && IS_HIGH_SURROGATE(version[n - 1])) --n;
  version.copy(buffer, n);
  return true;
}

OsVersionInfo& OsVersion() {
  static OsVersionInfo instance;
  return instance;
}

}  // namespace vd
