// Installing the host: the manifests beside lumora_host.exe and the per-user keys each browser family reads,
// their removal, the extension identity the manifests name, and the installed list of trusted origins as
// the host and the plug-in read it.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "registration.h"
#include "registry.h"
#include "testsupport.h"
#include "text.h"
#include "trusted_list.h"
#include "trusted_origins.h"

namespace {

using nlohmann::json;

json ReadJson(const std::wstring& path) {
  std::vector<uint8_t> bytes = vdtest::ReadFileBytes(path);
  return json::parse(bytes.begin(), bytes.end(), nullptr, false);
}

// Chromium derives an unpacked extension's ID from its key: the first 16 bytes of the SHA-256 of the
// public key, each half-byte written as a letter from 'a' to 'p'.
std::string ChromiumIdOfKey(const std::string& base64) {
  DWORD size = 0;
  if (!::CryptStringToBinaryA(base64.c_str(), 0, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr)) return {};
  std::vector<BYTE> der(size);
  if (!::CryptStringToBinaryA(base64.c_str(), 0, CRYPT_STRING_BASE64, der.data(), &size, nullptr, nullptr)) return {};
  HCRYPTPROV prov = 0;
  HCRYPTHASH hash = 0;
  BYTE digest[32];
  DWORD digestSize = sizeof digest;
  bool ok = ::CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
            ::CryptCreateHash(prov, CALG_SHA_256, 0, 0, &hash) && ::CryptHashData(hash, der.data(), size, 0) &&
            ::CryptGetHashParam(hash, HP_HASHVAL, digest, &digestSize, 0);
  if (hash) ::CryptDestroyHash(hash);
  if (prov) ::CryptReleaseContext(prov, 0);
  if (!ok) return {};
  std::string id;
  for (int i = 0; i < 16; ++i) {
    id += static_cast<char>('a' + (digest[i] >> 4));
    id += static_cast<char>('a' + (digest[i] & 15));
  }
  return id;
}

TEST(HostInstallTest, ManifestsNameTheExtensionThatShipsWithTheHost) {
  const json manifest = ReadJson(vd::Utf8ToWide(VD_EXTENSION_MANIFEST));
  ASSERT_TRUE(manifest.is_object()) << VD_EXTENSION_MANIFEST;
  EXPECT_EQ(ChromiumIdOfKey(manifest.value("key", "")), host::kChromiumExtensionId);
  EXPECT_EQ(manifest["browser_specific_settings"]["gecko"]["id"], host::kFirefoxExtensionId);
}

TEST(HostInstallTest, RegisterWritesEveryBrowsersKeyAndUnregisterRemovesThem) {
  vdtest::TempDir dir(L"hostinstall");
  const std::wstring folder = dir.path() + L"\\";
  const std::wstring exe = folder + L"lumora_host.exe";
  std::string error;
  ASSERT_TRUE(host::Register(folder, exe, &error)) << error;

  const struct {
    const wchar_t* key;
    const wchar_t* manifest;
    const char* callers;  // the member naming who may start the host
    const char* caller;
  } rows[] = {
      {L"Software\\Google\\Chrome\\NativeMessagingHosts\\com.kestrova.lumora", L"com.kestrova.lumora.json",
       "allowed_origins", "chrome-extension://inhgdakojggekofhnpdhkkacenljgmma/"},
      {L"Software\\Chromium\\NativeMessagingHosts\\com.kestrova.lumora", L"com.kestrova.lumora.json",
       "allowed_origins", "chrome-extension://inhgdakojggekofhnpdhkkacenljgmma/"},
      {L"Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.kestrova.lumora", L"com.kestrova.lumora.json",
       "allowed_origins", "chrome-extension://inhgdakojggekofhnpdhkkacenljgmma/"},
      {L"Software\\Mozilla\\NativeMessagingHosts\\com.kestrova.lumora", L"com.kestrova.lumora.firefox.json",
       "allowed_extensions", "lumora@kestrova.example"},
  };
  ASSERT_EQ(host::BrowserRegistrations().size(), std::size(rows));
  for (const auto& row : rows) {
    SCOPED_TRACE(vd::WideToUtf8(row.key));
    std::optional<std::wstring> value = vd::RegReadString(HKEY_CURRENT_USER, row.key, nullptr);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(*value, folder + row.manifest);
    const json m = ReadJson(*value);
    ASSERT_TRUE(m.is_object());
    EXPECT_EQ(m["name"], "com.kestrova.lumora");
    EXPECT_EQ(m["type"], "stdio");
    EXPECT_EQ(m["path"], vd::WideToUtf8(exe));
    EXPECT_EQ(m[row.callers], json::array({row.caller}));
  }

  ASSERT_TRUE(host::Unregister(folder, &error)) << error;
  for (const auto& row : rows) {
    EXPECT_FALSE(vd::RegReadString(HKEY_CURRENT_USER, row.key, nullptr).has_value()) << vd::WideToUtf8(row.key);
    EXPECT_EQ(::GetFileAttributesW((folder + row.manifest).c_str()), INVALID_FILE_ATTRIBUTES);
  }
  EXPECT_TRUE(host::Unregister(folder, &error)) << "a second removal finds nothing to remove: " << error;
}

TEST(HostInstallTest, InstalledListAsTheInstallerWritesIt) {
  hosttest::ScopedTrustedOrigins policy(tq::kTrustedOriginsPolicyKey);
  policy.Remove();
  hosttest::ScopedTrustedOrigins list;
  list.Remove();
  EXPECT_FALSE(tq::TrustedOrigins::FromRegistry().present());

  ASSERT_TRUE(list.SetList({L"https://bank.example", L"http://127.0.0.1:8080"}));
  tq::TrustedOrigins multi = tq::TrustedOrigins::FromRegistry();
  EXPECT_EQ(multi.origins(), (std::vector<std::string>{"https://bank.example", "http://127.0.0.1:8080"}));

  ASSERT_TRUE(list.SetText(L"https://bank.example\r\nhttps://other.example\r\n"));
  EXPECT_EQ(tq::TrustedOrigins::FromRegistry().origins(),
            (std::vector<std::string>{"https://bank.example", "https://other.example"}));

  const DWORD one = 1;
  ASSERT_TRUE(list.SetRaw(REG_DWORD, &one, sizeof one));
  tq::TrustedOrigins dword = tq::TrustedOrigins::FromRegistry();
  EXPECT_TRUE(dword.present());
  EXPECT_FALSE(dword.Names("https://bank.example"));

  // A policy value, even an empty one, overrides the installation's list.
  ASSERT_TRUE(list.SetText(L"https://bank.example"));
  ASSERT_TRUE(policy.SetText(L"https://policy.example;htps://typo.example"));
  tq::TrustedOrigins ruled = tq::TrustedOrigins::FromRegistry();
  EXPECT_EQ(ruled.origins(), std::vector<std::string>{"https://policy.example"});
  ASSERT_EQ(ruled.rejected().size(), 1u);
  EXPECT_EQ(ruled.rejected()[0].entry, "htps://typo.example");
  ASSERT_TRUE(policy.SetText(L""));
  EXPECT_FALSE(tq::TrustedOrigins::FromRegistry().Names("https://bank.example"));
}

}  // namespace

namespace {

// Every program and library we ship names its execution level: a 32-bit program without one runs with
// registry virtualisation on Windows, where a per-user copy of HKLM\Software (the list of trusted origins)
// takes precedence over the machine's. The token module is the vendor's, not ours.
TEST(HostInstallTest, EveryShippedBinaryCarriesAManifest) {
  const struct {
    const wchar_t* file;
    WORD id;  // 1 for a program, 2 for a library
  } rows[] = {{L"vardeck.exe", 1}, {L"lumora_host.exe", 1}, {L"npLumora.dll", 2}};
  for (const auto& row : rows) {
    SCOPED_TRACE(vd::WideToUtf8(row.file));
    HMODULE image = ::LoadLibraryExW((vdtest::BinDir() + row.file).c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    HRSRC found = ::FindResourceW(image, MAKEINTRESOURCEW(row.id), MAKEINTRESOURCEW(24));
    HGLOBAL loaded = found ? ::LoadResource(image, found) : nullptr;
    const char* data = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
    const std::string manifest = data ? std::string(data, ::SizeofResource(image, found)) : std::string();
    ::FreeLibrary(image);
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\""), std::string::npos) << manifest;
    // A program's windows are drawn at their screen's DPI; a library's follow the program that loads it.
    if (row.id == 1) {
      EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos) << manifest;
    }
  }
}

}  // namespace
