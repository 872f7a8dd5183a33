// The package as a machine gets it, in a prefix of its own: installed with a token present, vardeck started
// as the Run entry says, upgraded while it runs, a downgrade refused, and removed while it runs.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "registry.h"
#include "testsupport.h"
#include "vardeck_process.h"

namespace {

constexpr wchar_t kInstallKey[] = L"SOFTWARE\\Kestrova\\Brindlemark_Lumora";
constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunName[] = L"Certificate Manager";
constexpr wchar_t kNotifierKey[] = L"Software\\Kestrova\\Brindlemark_Lumora\\Config\\NotifierTime";
// Every key of ours that a browser reads, with the installed file it must name.
const struct {
  const wchar_t* key;
  const wchar_t* file;
} kBrowserKeys[] = {
    {L"SOFTWARE\\MozillaPlugins\\@kestrova.example/npLumora", L"npLumora.dll"},
    {L"SOFTWARE\\Google\\Chrome\\NativeMessagingHosts\\com.kestrova.lumora", L"com.kestrova.lumora.json"},
    {L"SOFTWARE\\Chromium\\NativeMessagingHosts\\com.kestrova.lumora", L"com.kestrova.lumora.json"},
    {L"SOFTWARE\\Microsoft\\Edge\\NativeMessagingHosts\\com.kestrova.lumora", L"com.kestrova.lumora.json"},
    {L"SOFTWARE\\Mozilla\\NativeMessagingHosts\\com.kestrova.lumora", L"com.kestrova.lumora.firefox.json"},
};

struct Package {
  std::wstring path, version;
};

// The setup's x64 packages, oldest first: CertificateManager-<version>-x64.msi beside the build's bin.
std::vector<Package> Packages() {
  const std::wstring dir = vdtest::BinDir() + L"..\\installer\\";
  std::vector<Package> found;
  WIN32_FIND_DATAW fd;
  HANDLE h = ::FindFirstFileW((dir + L"CertificateManager-*-x64.msi").c_str(), &fd);
  for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(h, &fd)) {
    std::wstring name = fd.cFileName;
    found.push_back({dir + name, name.substr(19, name.size() - 19 - 8)});
  }
  if (h != INVALID_HANDLE_VALUE) ::FindClose(h);
  auto fields = [](const std::wstring& v) {
    std::vector<int> f;
    for (size_t at = 0; at < v.size(); at = v.find(L'.', at) + 1) {
      f.push_back(std::stoi(v.substr(at)));
      if (v.find(L'.', at) == std::wstring::npos) break;
    }
    return f;
  };
  std::sort(found.begin(), found.end(), [&](auto& a, auto& b) { return fields(a.version) < fields(b.version); });
  return found;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool KeyExists(const wchar_t* key) {
  HKEY k = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  ::RegCloseKey(k);
  return true;
}

// The installed list of trusted origins, whole, with its type.
std::wstring TrustedOrigins(DWORD* type = nullptr) {
  auto data = vd::RegReadBytes(HKEY_LOCAL_MACHINE, kInstallKey, L"TrustedOrigins", type);
  return data ? std::wstring(reinterpret_cast<const wchar_t*>(data->data()), data->size() / 2) : L"(none)";
}

std::wstring Folder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
  return path;
}

// Where the Start menu shortcut is, if anywhere: the machine's menu, or the user's where Wine puts it.
std::wstring Shortcut() {
  for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
    std::wstring lnk = Folder(csidl) + L"\\Certificate Manager.lnk";
    if (Exists(lnk)) return lnk;
  }
  return L"";
}

// The manifest that lumora_host.exe --register writes, with the path it names replaced by the relative one
// the installed manifests carry.
std::string RegisteredManifest(const std::wstring& hostExe, const wchar_t* file) {
  vdtest::TempDir dir(L"vdregister");
  const std::wstring exe = dir.path() + L"\\lumora_host.exe";
  if (!::CopyFileW(hostExe.c_str(), exe.c_str(), FALSE)) return "(no copy)";
  vdtest::RunProcess(L"\"" + exe + L"\" --register");
  std::vector<uint8_t> bytes = vdtest::ReadFileBytes(dir.path() + L"\\" + file);
  vdtest::RunProcess(L"\"" + exe + L"\" --unregister");
  std::string text(bytes.begin(), bytes.end());
  size_t at = text.find("\"path\": \"");
  if (at != std::string::npos) text.replace(at + 9, text.find('"', at + 9) - at - 9, "lumora_host.exe");
  return text;
}

class InstallerTest : public ::testing::Test {
 protected:
  // Runs msiexec and answers its exit code; the time it took goes into the figures. It shares no handle:
  // what it starts (Wine's desktop, vardeck) outlives it.
  DWORD Msiexec(const char* what, const std::wstring& args) {
    std::wstring cmd = L"msiexec.exe " + args + L" /qn";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const DWORD start = ::GetTickCount();
    if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return ~0u;
    ::CloseHandle(pi.hThread);
    vd::UniqueKernelHandle process(pi.hProcess);
    DWORD code = ~0u;
    if (::WaitForSingleObject(process.get(), 120000) == WAIT_OBJECT_0) ::GetExitCodeProcess(process.get(), &code);
    std::printf("installer figure: %s %lu ms\n", what, ::GetTickCount() - start);
    std::fflush(stdout);
    return code;
  }
  // The running vardeck's main window, from whichever process shows it.
  static HANDLE WaitVardeck(const std::wstring& exe) {
    for (DWORD end = ::GetTickCount() + 15000; static_cast<int>(end - ::GetTickCount()) > 0; ::Sleep(100)) {
      DWORD pid = 0;
      if (HWND w = ::FindWindowW(L"#32770", L"Opalix Certificate Manager")) ::GetWindowThreadProcessId(w, &pid);
      HANDLE p = pid ? ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid) : nullptr;
      wchar_t image[MAX_PATH] = {};
      DWORD size = MAX_PATH;
      if (p && ::QueryFullProcessImageNameW(p, 0, image, &size) && _wcsicmp(image, exe.c_str()) == 0) return p;
      if (p) ::CloseHandle(p);
    }
    return nullptr;
  }

  std::vector<Package> packages_ = Packages();
  const std::wstring dir_ = Folder(CSIDL_PROGRAM_FILES) + L"\\Kestrova\\Brindlemark_Lumora\\";
  const std::wstring sign_ = vdtest::Sha1OfFile(vdtest::TestCert(L"sign.der"));
};

TEST_F(InstallerTest, InstallsUpgradesKeepingTheUsersChoicesAndRemovesEverything) {
  ASSERT_EQ(packages_.size(), 2u) << "the setup builds a package and its upgrade";
  // Whatever fails, no vardeck of this test outlives it.
  struct EndVardeck {
    ~EndVardeck() { vdtest::RequestTermination(); }
  } endVardeck;
  ASSERT_NE(vdtest::Tokenctl(L"insert 1"), L"");
  ASSERT_NE(vdtest::Tokenctl(L"add-cert 1 \"" + vdtest::TestCert(L"sign.der") + L"\""), L"");

  ASSERT_EQ(Msiexec("install", L"/i \"" + packages_[0].path + L"\" TRUSTEDORIGINS=\"https://ebank.example;https://pay.example:8443\""), 0u);
  EXPECT_EQ(vd::RegReadString(HKEY_LOCAL_MACHINE, kInstallKey, L"Path").value_or(L""), dir_);
  EXPECT_EQ(vd::RegReadString(HKEY_LOCAL_MACHINE, kInstallKey, L"Version").value_or(L""), packages_[0].version);
  EXPECT_TRUE(Exists(dir_ + L"lang\\qvcertd_Lumora_1033.lng")) << "vardeck reads <Path>lang\\...";
  for (const wchar_t* file : {L"vardeck.exe", L"npLumora.dll", L"lumora_host.exe", L"LumoraCSP11Brindlemark.dll"})
    EXPECT_EQ(vdtest::ReadFileBytes(dir_ + file), vdtest::ReadFileBytes(vdtest::BinDir() + file)) << file;
  DWORD type = 0;
  constexpr wchar_t kList[] = L"https://ebank.example\0https://pay.example:8443\0";
  const std::wstring origins(kList, std::size(kList));  // with the terminator, which ends a multi-string
  EXPECT_EQ(TrustedOrigins(&type), origins) << "one origin a line, from the ';' of the property";
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  for (const auto& b : kBrowserKeys) {
    const wchar_t* name = b.file == std::wstring(L"npLumora.dll") ? L"Path" : nullptr;
    EXPECT_EQ(vd::RegReadString(HKEY_LOCAL_MACHINE, b.key, name).value_or(L""), dir_ + b.file) << b.key;
  }
  for (const wchar_t* manifest : {L"com.kestrova.lumora.json", L"com.kestrova.lumora.firefox.json"}) {
    std::vector<uint8_t> installed = vdtest::ReadFileBytes(dir_ + manifest);
    EXPECT_EQ(std::string(installed.begin(), installed.end()), RegisteredManifest(dir_ + L"lumora_host.exe", manifest));
  }
  EXPECT_NE(Shortcut(), L"");
  // A browser finds the plug-in by its MIME type alone.
  vdtest::ProcessResult nphost = vdtest::RunTool(L"nphost.exe", L"--mime application/npLumora GetKeyCount");
  EXPECT_EQ(nphost.out, "int 1\r\n") << nphost.err;

  // At logon the Run entry starts vardeck, which registers the present token.
  const std::wstring run = vd::RegReadString(HKEY_LOCAL_MACHINE, kRunKey, kRunName).value_or(L"");
  ASSERT_EQ(run, L"\"" + dir_ + L"vardeck.exe\"");
  vdtest::VardeckProcess first(L"", run.substr(1, run.size() - 2));
  EXPECT_TRUE(vdtest::WaitStore(L"MY", sign_, true, 15000));

  // The user's choices, as vardeck writes them: a one-byte PopFlag, the address, the notifier.
  ASSERT_TRUE(vd::RegWriteBytes(HKEY_LOCAL_MACHINE, kInstallKey, L"PopFlag", REG_SZ, "1", 1));
  ASSERT_TRUE(vd::RegWriteString(HKEY_LOCAL_MACHINE, kInstallKey, L"http Address", L"https://home.example/"));
  ASSERT_TRUE(vd::RegWriteDword(HKEY_CURRENT_USER, kNotifierKey, L"isNotifier", 1));
  ASSERT_TRUE(vd::RegWriteDword(HKEY_CURRENT_USER, kNotifierKey, L"timeSpan", 7));
  ASSERT_EQ(Msiexec("upgrade", L"/i \"" + packages_[1].path + L"\""), 0u);
  EXPECT_TRUE(first.WaitExit(10000)) << "the old version's uninstall ends its vardeck";
  vd::UniqueKernelHandle second(WaitVardeck(dir_ + L"vardeck.exe"));
  EXPECT_TRUE(second) << "the upgrade starts the new vardeck";
  EXPECT_TRUE(vdtest::WaitStore(L"MY", sign_, true, 15000));
  EXPECT_EQ(vd::RegReadString(HKEY_LOCAL_MACHINE, kInstallKey, L"Version").value_or(L""), packages_[1].version);
  EXPECT_EQ(vd::RegReadBytes(HKEY_LOCAL_MACHINE, kInstallKey, L"PopFlag").value_or(std::vector<BYTE>{0}).at(0), '1');
  EXPECT_EQ(vd::RegReadString(HKEY_LOCAL_MACHINE, kInstallKey, L"http Address").value_or(L""), L"https://home.example/");
  EXPECT_EQ(vd::RegReadDword(HKEY_CURRENT_USER, kNotifierKey, L"timeSpan").value_or(0), 7u);
  EXPECT_EQ(TrustedOrigins(), origins) << "an upgrade that names no origins keeps the list";

  EXPECT_EQ(Msiexec("downgrade", L"/i \"" + packages_[0].path + L"\""), 1603u);
  EXPECT_EQ(vd::RegReadString(HKEY_LOCAL_MACHINE, kInstallKey, L"Version").value_or(L""), packages_[1].version);

  ASSERT_EQ(Msiexec("uninstall", L"/x \"" + packages_[1].path + L"\""), 0u);
  EXPECT_EQ(::WaitForSingleObject(second.get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0)) << "vardeck ends";
  EXPECT_FALSE(vdtest::StoreHas(L"MY", sign_)) << "and takes its MY entries with it";
  EXPECT_FALSE(Exists(Folder(CSIDL_PROGRAM_FILES) + L"\\Kestrova"));
  EXPECT_EQ(Shortcut(), L"");
  EXPECT_FALSE(vd::RegReadString(HKEY_LOCAL_MACHINE, kRunKey, kRunName));
  EXPECT_FALSE(KeyExists(L"SOFTWARE\\Kestrova"));
  for (const auto& b : kBrowserKeys) EXPECT_FALSE(KeyExists(b.key)) << b.key;
  EXPECT_EQ(vd::RegReadDword(HKEY_CURRENT_USER, kNotifierKey, L"timeSpan").value_or(0), 7u)
      << "the user's own settings stay, as they must through an upgrade";
}

}  // namespace
