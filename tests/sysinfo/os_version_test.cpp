#include <gtest/gtest.h>

#include "os_version.h"
#include "registry.h"

namespace {

using vd::OsPlatformFacts;
using vd::OsVersionInfo;

struct Row {
  const char* name;
  OsPlatformFacts facts;
  bool detected;
  int code;
  const wchar_t* product;
  const wchar_t* version;
};

OsPlatformFacts With(OsPlatformFacts f, void (*edit)(OsPlatformFacts&)) {
  edit(f);
  return f;
}

const BYTE kServer = VER_NT_SERVER;

// One row per Windows generation and edition the classification distinguishes.
std::vector<Row> Rows() {
  return {
      {"Win32s", With(OsPlatformFacts::Nt(1, 0, 0), [](OsPlatformFacts& f) { f.platformId = VER_PLATFORM_WIN32s; }),
       true, 1, L"Microsoft Win32s", L"Unknown"},
      {"Windows95", OsPlatformFacts::Win9x(0, 950, L""), true, 3, L"Microsoft Windows 95",
       L"Version 4.0 Build 950 "},
      {"Windows95Osr2B", OsPlatformFacts::Win9x(0, 1111, L" B"), true, 4, L"Microsoft Windows 95 OSR2",
       L"Version 4.0 Build 1111  B"},
      {"Windows95Osr2C", OsPlatformFacts::Win9x(0, 1212, L" C"), true, 4, L"Microsoft Windows 95 OSR2",
       L"Version 4.0 Build 1212  C"},
      {"Windows98", OsPlatformFacts::Win9x(10, 1998, L""), true, 5, L"Microsoft Windows 98",
       L"Version 4.10 Build 1998 "},
      {"Windows98SE", OsPlatformFacts::Win9x(10, 0x04102222, L" A "), true, 6,
       L"Microsoft Windows 98 SE", L"Version 4.10 Build 8738  A "},
      {"WindowsMe", OsPlatformFacts::Win9x(90, 3000, L" "), true, 7, L"Microsoft Windows Me",
       L"Version 4.90 Build 3000  "},
      {"Win9xOddMinor", OsPlatformFacts::Win9x(5, 1, L""), true, 0, L"Microsoft ", L"Version 4.5 Build 1 "},
      {"UnknownPlatform", With(OsPlatformFacts::Nt(6, 1, 7601), [](OsPlatformFacts& f) { f.platformId = 3; }),
       true, 0, L"Unknown", L"Unknown"},
      {"VersionUnreadable", With(OsPlatformFacts::Nt(6, 1, 7601), [](OsPlatformFacts& f) { f.versionOk = false; }),
       false, 0, L"Unknown", L"Unknown"},
      {"NT4", OsPlatformFacts::Nt(4, 0, 1381), false, 0, L"Microsoft ", L"Unknown"},
      {"NT10", OsPlatformFacts::Nt(10, 0, 19045), true, 14, L"Unknown Windows version, but above Windows 8",
       L"Unknown"},
      {"Windows2000Pro", OsPlatformFacts::Nt(5, 0, 2195), true, 8, L"Microsoft Windows 2000 Professional",
       L"Version 5.0  (Build 2195)"},
      {"Windows2000Server", OsPlatformFacts::Nt(5, 0, 2195, kServer), true, 8, L"Microsoft Windows 2000 Server",
       L"Version 5.0  (Build 2195)"},
      {"Windows2000Advanced",
       With(OsPlatformFacts::Nt(5, 0, 2195, kServer), [](OsPlatformFacts& f) { f.suiteMask = VER_SUITE_ENTERPRISE; }),
       true, 8, L"Microsoft Windows 2000 Advanced Server", L"Version 5.0  (Build 2195)"},
      {"Windows2000Datacenter",
       With(OsPlatformFacts::Nt(5, 0, 2195, kServer),
            [](OsPlatformFacts& f) { f.suiteMask = VER_SUITE_DATACENTER | VER_SUITE_ENTERPRISE; }),
       true, 8, L"Microsoft Windows 2000 Datacenter Server", L"Version 5.0  (Build 2195)"},
      {"XpProfessional",
       With(OsPlatformFacts::Nt(5, 1, 2600), [](OsPlatformFacts& f) { f.csdVersion = L"Service Pack 3"; }), true, 9,
       L"Microsoft Windows XP Professional", L"Version 5.1 Service Pack 3 (Build 2600)"},
      {"XpHome", With(OsPlatformFacts::Nt(5, 1, 2600), [](OsPlatformFacts& f) { f.suiteMask = VER_SUITE_PERSONAL; }),
       true, 9, L"Microsoft Windows XP Home Edition", L"Version 5.1  (Build 2600)"},
      {"XpX64",
       With(OsPlatformFacts::Nt(5, 2, 3790),
            [](OsPlatformFacts& f) { f.architecture = PROCESSOR_ARCHITECTURE_AMD64; }),
       true, 9, L"Microsoft Windows XP Professional x64 Edition", L"Version 5.2  (Build 3790)"},
      {"Server2003Standard", OsPlatformFacts::Nt(5, 2, 3790, kServer), true, 10,
       L"Microsoft Windows Server 2003, Standard Edition", L"Version 5.2  (Build 3790)"},
      {"Server2003Web",
       With(OsPlatformFacts::Nt(5, 2, 3790, kServer), [](OsPlatformFacts& f) { f.suiteMask = VER_SUITE_BLADE; }),
       true, 10, L"Microsoft Windows Server 2003, Web Edition", L"Version 5.2  (Build 3790)"},
      {"Server2003ComputeClusterBeatsDatacenter",
       With(OsPlatformFacts::Nt(5, 2, 3790, kServer),
            [](OsPlatformFacts& f) { f.suiteMask = VER_SUITE_COMPUTE_SERVER | VER_SUITE_DATACENTER; }),
       true, 10, L"Microsoft Windows Server 2003, Compute Cluster Edition", L"Version 5.2  (Build 3790)"},
      {"Server2003R2Enterprise",
       With(OsPlatformFacts::Nt(5, 2, 3790, kServer),
            [](OsPlatformFacts& f) {
              f.serverR2 = 1;
              f.suiteMask = VER_SUITE_ENTERPRISE;
            }),
       true, 10, L"Microsoft Windows Server 2003 R2, Enterprise Edition", L"Version 5.2  (Build 3790)"},
      {"Server2003R2BeatsStorage",
       With(OsPlatformFacts::Nt(5, 2, 3790, kServer),
            [](OsPlatformFacts& f) {
              f.serverR2 = 1;
              f.suiteMask = VER_SUITE_STORAGE_SERVER;
            }),
       true, 10, L"Microsoft Windows Server 2003 R2, Standard Edition", L"Version 5.2  (Build 3790)"},
      {"StorageServer2003",
       With(OsPlatformFacts::Nt(5, 2, 3790, kServer),
            [](OsPlatformFacts& f) { f.suiteMask = VER_SUITE_STORAGE_SERVER; }),
       true, 10, L"Microsoft Windows Storage Server 2003Standard Edition", L"Version 5.2  (Build 3790)"},
      {"HomeServer",
       With(OsPlatformFacts::Nt(5, 2, 3790, kServer), [](OsPlatformFacts& f) { f.suiteMask = VER_SUITE_WH_SERVER; }),
       true, 10, L"Microsoft Windows Home ServerStandard Edition", L"Version 5.2  (Build 3790)"},
      {"Server2003DatacenterX64",
       With(OsPlatformFacts::Nt(5, 2, 3790, kServer),
            [](OsPlatformFacts& f) {
              f.architecture = PROCESSOR_ARCHITECTURE_AMD64;
              f.suiteMask = VER_SUITE_DATACENTER;
            }),
       true, 10, L"Microsoft Windows Server 2003, Datacenter x64 Edition", L"Version 5.2  (Build 3790)"},
      {"Server2003StandardX64",
       With(OsPlatformFacts::Nt(5, 2, 3790, kServer),
            [](OsPlatformFacts& f) { f.architecture = PROCESSOR_ARCHITECTURE_AMD64; }),
       true, 10, L"Microsoft Windows Server 2003, Standard x64 Edition", L"Version 5.2  (Build 3790)"},
      {"Server2003EnterpriseItanium",
       With(OsPlatformFacts::Nt(5, 2, 3790, kServer),
            [](OsPlatformFacts& f) {
              f.architecture = PROCESSOR_ARCHITECTURE_IA64;
              f.suiteMask = VER_SUITE_ENTERPRISE;
            }),
       true, 10, L"Microsoft Windows Server 2003, Enterprise Edition for Itanium-based Systems",
       L"Version 5.2  (Build 3790)"},
      {"Server2003PlainItanium",
       With(OsPlatformFacts::Nt(5, 2, 3790, kServer),
            [](OsPlatformFacts& f) { f.architecture = PROCESSOR_ARCHITECTURE_IA64; }),
       true, 10, L"Microsoft Windows Server 2003, ", L"Version 5.2  (Build 3790)"},
      {"VistaHomePremium",
       With(OsPlatformFacts::Nt(6, 0, 6002), [](OsPlatformFacts& f) { f.productInfoType = 3; }), true, 11,
       L"Microsoft Windows Vista Home Premium Edition", L"Version 6.0  (Build 6002)"},
      {"Server2008Datacenter",
       With(OsPlatformFacts::Nt(6, 0, 6002, kServer), [](OsPlatformFacts& f) { f.productInfoType = 8; }), true, 12,
       L"Microsoft Windows Server 2008 Datacenter Edition", L"Version 6.0  (Build 6002)"},
      {"Server2008R2Core",
       With(OsPlatformFacts::Nt(6, 1, 7601, kServer), [](OsPlatformFacts& f) { f.productInfoType = 13; }), true, 12,
       L"Microsoft Windows Server 2008 R2 Standard Edition (core installation)", L"Version 6.1  (Build 7601)"},
      {"Windows7Sp1Ultimate",
       With(OsPlatformFacts::Nt(6, 1, 7601), [](OsPlatformFacts& f) { f.csdVersion = L"Service Pack 1"; }), true, 13,
       L"Microsoft Windows 7 Ultimate Edition", L"Version 6.1 Service Pack 1 (Build 7601)"},
      {"Windows7UnlistedEdition",
       With(OsPlatformFacts::Nt(6, 1, 7600), [](OsPlatformFacts& f) { f.productInfoType = 5; }), true, 13,
       L"Microsoft Windows 7 ", L"Version 6.1  (Build 7600)"},
      {"Windows7ProductInfoFails",
       With(OsPlatformFacts::Nt(6, 1, 7600), [](OsPlatformFacts& f) { f.productInfoOk = false; }), false, 13,
       L"Microsoft Windows 7 ", L"Unknown"},
      {"Windows8Professional",
       With(OsPlatformFacts::Nt(6, 2, 9200), [](OsPlatformFacts& f) { f.productInfoType = 48; }), true, 14,
       L"Microsoft Windows 8 Professional", L"Version 6.2  (Build 9200)"},
      {"Windows8Type16NoEdition",
       With(OsPlatformFacts::Nt(6, 2, 9200), [](OsPlatformFacts& f) { f.productInfoType = 16; }), true, 14,
       L"Microsoft Windows 8 ", L"Version 6.2  (Build 9200)"},
      {"Windows81SeenAs62",
       With(OsPlatformFacts::Nt(6, 2, 9200),
            [](OsPlatformFacts& f) {
              f.realMinor = 3;
              f.productInfoType = 48;
            }),
       true, 16, L"Microsoft Windows 8.1 Professional", L"Version 6.2  (Build 9200)"},
      {"Windows10SeenAs62",
       With(OsPlatformFacts::Nt(6, 2, 9200),
            [](OsPlatformFacts& f) {
              f.realMajor = 10;
              f.realMinor = 0;
              f.productInfoType = 4;
            }),
       true, 14, L"Microsoft Windows 10 Enterprise Edition", L"Version 6.2  (Build 9200)"},
      {"Windows62WithoutRtlGetVersion",
       With(OsPlatformFacts::Nt(6, 2, 9200), [](OsPlatformFacts& f) { f.realVersionOk = false; }), true, 14,
       L"Microsoft Windows 8 Ultimate Edition", L"Version 6.2  (Build 9200)"},
      {"Windows81AsReported63",
       With(OsPlatformFacts::Nt(6, 3, 9600), [](OsPlatformFacts& f) { f.productInfoType = 48; }), true, 16,
       L"Microsoft Windows 8.1 Professional", L"Version 6.3  (Build 9600)"},
      {"Server8",
       With(OsPlatformFacts::Nt(6, 2, 9200, kServer),
            [](OsPlatformFacts& f) {
              f.realMinor = 3;
              f.productInfoType = 7;
            }),
       true, 15, L"Microsoft Windows Server 8 Standard Edition", L"Version 6.2  (Build 9200)"},
      {"BuildKeepsLow16Bits", OsPlatformFacts::Nt(5, 1, 0x0A280A28), true, 9, L"Microsoft Windows XP Professional",
       L"Version 5.1  (Build 2600)"},
  };
}

TEST(OsVersionDetect, ClassifiesEveryGenerationByTable) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.name);
    OsVersionInfo info(row.facts);
    EXPECT_EQ(info.Detect(row.facts), row.detected);
    EXPECT_EQ(info.VersionCode(), row.code);
    EXPECT_EQ(info.ProductText(), row.product);
    EXPECT_EQ(info.VersionText(), row.version);
  }
}

TEST(OsVersionDetect, PredicatesFollowTheCode) {
  struct P {
    const char* name;
    OsPlatformFacts facts;
    bool win9x, win2000, vista, win8;
  } rows[] = {
      {"Win32s", With(OsPlatformFacts::Nt(1, 0, 0), [](OsPlatformFacts& f) { f.platformId = VER_PLATFORM_WIN32s; }),
       false, false, false, false},
      {"Windows95", OsPlatformFacts::Win9x(0, 950, L""), true, false, false, false},
      {"WindowsMe", OsPlatformFacts::Win9x(90, 3000, L""), true, false, false, false},
      {"Windows2000", OsPlatformFacts::Nt(5, 0, 2195), false, true, false, false},
      {"Server2003", OsPlatformFacts::Nt(5, 2, 3790, kServer), false, false, false, false},
      {"Vista", OsPlatformFacts::Nt(6, 0, 6002), false, false, true, false},
      {"Windows7", OsPlatformFacts::Nt(6, 1, 7601), false, false, true, false},
      {"Windows8", OsPlatformFacts::Nt(6, 2, 9200), false, false, true, true},
      {"Windows81", OsPlatformFacts::Nt(6, 3, 9600), false, false, true, true},
      {"NT4Unclassified", OsPlatformFacts::Nt(4, 0, 1381), false, false, false, false},
  };
  for (const P& row : rows) {
    SCOPED_TRACE(row.name);
    OsVersionInfo info(row.facts);
    EXPECT_EQ(info.IsWin9x(), row.win9x);
    EXPECT_EQ(info.IsWindows2000(), row.win2000);
    EXPECT_EQ(info.IsVistaOrLater(), row.vista);
    EXPECT_EQ(info.IsWindows8OrLater(), row.win8);
  }
}

TEST(OsVersionDetect, RedetectingWithAnotherRowForgetsTheFirst) {
  OsVersionInfo info(OsPlatformFacts::Nt(6, 1, 7601));
  ASSERT_EQ(info.VersionCode(), 13);
  EXPECT_FALSE(info.Detect(OsPlatformFacts::Nt(4, 0, 1381)));
  EXPECT_EQ(info.VersionCode(), 0);
  EXPECT_EQ(info.VersionText(), L"Unknown");
}

TEST(OsVersionDetect, UnterminatedServiceTextIsCutAtItsField) {
  struct Unterminated : OsPlatformFacts {
    bool GetVersion(OSVERSIONINFOEXW& info) const override {
      OsPlatformFacts::GetVersion(info);
      for (auto& c : info.szCSDVersion) c = L'x';
      return true;
    }
  } facts;
  static_cast<OsPlatformFacts&>(facts) = OsPlatformFacts::Nt(5, 1, 2600);
  OsVersionInfo info(facts);
  EXPECT_EQ(info.VersionText(), L"Version 5.1 " + std::wstring(128, L'x') + L" (Build 2600)");
}

// The prefix is set to report Windows 10: GetVersionExW says 6.2, RtlGetVersion the truth.
TEST(OsVersionLive, DetectsTheRunningSystemConsistently) {
  OsVersionInfo info;
  ASSERT_TRUE(info.Detect());
  EXPECT_TRUE(info.IsVistaOrLater());
  EXPECT_EQ(info.ProductText().rfind(L"Microsoft Windows ", 0), 0u) << info.ProductText().c_str();
  if (info.IsRealVersion(10, 0, 0)) {
    EXPECT_EQ(info.VersionCode(), 14);
    EXPECT_NE(info.ProductText().find(L"Windows 10 "), std::wstring::npos);
  }
  EXPECT_FALSE(info.IsRealVersion(3, 51, 0));
  EXPECT_EQ(vd::OsVersion().VersionCode(), info.VersionCode());
}

TEST(OsVersionLive, ProcessWideInstanceCanBeReplacedByARowAndRestored) {
  int real = vd::OsVersion().VersionCode();
  vd::OsVersion().Detect(OsPlatformFacts::Nt(5, 1, 2600));
  EXPECT_FALSE(vd::OsVersion().IsVistaOrLater());
  vd::OsVersion().Detect();
  EXPECT_EQ(vd::OsVersion().VersionCode(), real);
}

class RegistryVersionTest : public ::testing::Test {
 protected:
  static constexpr const wchar_t* kKey = L"Software\\vdtest\\os_version";
  void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }
};

TEST_F(RegistryVersionTest, BrowserVersionTextFromTheKeyOrUnknow) {
  EXPECT_EQ(OsVersionInfo::GetBrowserVersionText(HKEY_CURRENT_USER, kKey), L"unknow");
  ASSERT_TRUE(vd::RegWriteString(HKEY_CURRENT_USER, kKey, L"Version", L"9.11.19041.0"));
  EXPECT_EQ(OsVersionInfo::GetBrowserVersionText(HKEY_CURRENT_USER, kKey), L"IE 9.11.19041.0");
  // 130 characters and a terminator do not fit the 260-byte buffer.
  ASSERT_TRUE(vd::RegWriteString(HKEY_CURRENT_USER, kKey, L"Version", std::wstring(130, L'9')));
  EXPECT_EQ(OsVersionInfo::GetBrowserVersionText(HKEY_CURRENT_USER, kKey), L"unknow");
  ASSERT_TRUE(vd::RegWriteDword(HKEY_CURRENT_USER, kKey, L"Version", 9));
  EXPECT_EQ(OsVersionInfo::GetBrowserVersionText(HKEY_CURRENT_USER, kKey), L"unknow");
}

TEST_F(RegistryVersionTest, ProductVersionFillsTheCallersBufferWithoutOverrun) {
  wchar_t buffer[20] = {};
  EXPECT_FALSE(OsVersionInfo::GetProductVersion(HKEY_CURRENT_USER, kKey, buffer, 20));
  EXPECT_EQ(buffer[0], L'\0');

  ASSERT_TRUE(vd::RegWriteString(HKEY_CURRENT_USER, kKey, L"Version", L"3.1.0.7"));
  ASSERT_TRUE(OsVersionInfo::GetProductVersion(HKEY_CURRENT_USER, kKey, buffer, 20));
  EXPECT_STREQ(buffer, L"3.1.0.7");

  // Unterminated registry data must not run past the value, and a long value is cut to keep the terminator.
  const wchar_t raw[] = {L'1', L'.', L'2'};
  ASSERT_TRUE(vd::RegWriteBytes(HKEY_CURRENT_USER, kKey, L"Version", REG_SZ, raw, sizeof(raw)));
  wchar_t fresh[20] = {};
  ASSERT_TRUE(OsVersionInfo::GetProductVersion(HKEY_CURRENT_USER, kKey, fresh, 20));
  EXPECT_STREQ(fresh, L"1.2");

  ASSERT_TRUE(vd::RegWriteString(HKEY_CURRENT_USER, kKey, L"Version", L"12345678901234567890123"));
  wchar_t small[20] = {};
  small[19] = L'\0';
  ASSERT_TRUE(OsVersionInfo::GetProductVersion(HKEY_CURRENT_USER, kKey, small, 20));
  EXPECT_EQ(std::wstring(small), L"1234567890123456789");
}

}  // namespace
