// The package as a machine gets it, in a prefix of its own: installed with a token present, vardeck started
// as the Run entry says, upgraded while it runs, a downgrade refused, and removed while it runs.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "registry.h"
#include "testsupport.h"
#include "vardeck_process.h"

namespace {

constexpr wchar_t kInstallKey[] = L"SOFTWARE\\Kestrova\\Brindlemark_Lumora";
constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kNotifierKey[] = L"Software\\Kestrova\\Brindlemark_Lumora\\Config\\NotifierTime";
// The keys of ours that browsers read, each with the value naming an installed file, and that file.
const struct {
  const wchar_t *key, *value, *file;
} kBrowserKeys[] = {
    {L"SOFTWARE\\MozillaPlugins\\@kestrova.example/npLumora", L"Path", L"npLumora.dll"},
    {L"SOFTWARE\\Google\\Chrome\\NativeMessagingHosts\\com.kestrova.lumora", nullptr, L"com.kestrova.lumora.json"},
    {L"SOFTWARE\\Chromium\\NativeMessagingHosts\\com.kestrova.lumora", nullptr, L"com.kestrova.lumora.json"},
    {L"SOFTWARE\\Microsoft\\Edge\\NativeMessagingHosts\\com.kestrova.lumora", nullptr, L"com.kestrova.lumora.json"},
    {L"SOFTWARE\\Mozilla\\NativeMessagingHosts\\com.kestrova.lumora", nullptr, L"com.kestrova.lumora.firefox.json"},
};

// The one package the setup put in installer\<which>, and its version, from its name.
struct Package {
  explicit Package(const wchar_t* which) {
    const std::wstring dir = vdtest::BinDir() + L"..\\installer\\" + which + L"\\";
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((dir + L"CertificateManager-*-x64.msi").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    ::FindClose(h);
    path = L"\"" + dir + fd.cFileName + L"\"";
    version = std::wstring(fd.cFileName).substr(19, std::wcslen(fd.cFileName) - 19 - 8);
  }
  std::wstring path, version;
};

std::wstring Folder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
  return path;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool KeyExists(const wchar_t* key) {
  HKEY k = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  ::RegCloseKey(k);
  return true;
}

std::wstring Value(const wchar_t* name) {
  return vd::RegReadString(HKEY_LOCAL_MACHINE, kInstallKey, name).value_or(L"-");
}

// The installed list of trusted origins whole, terminators and all.
std::wstring TrustedOrigins(DWORD* type = nullptr) {
  auto data = vd::RegReadBytes(HKEY_LOCAL_MACHINE, kInstallKey, L"TrustedOrigins", type);
  return data ? std::wstring(reinterpret_cast<const wchar_t*>(data->data()), data->size() / 2) : L"-";
}

// The Start menu shortcut in the machine's menu, or in the user's, where Wine puts it.
bool HasShortcut() {
  return Exists(Folder(CSIDL_COMMON_PROGRAMS) + L"\\Certificate Manager.lnk") ||
         Exists(Folder(CSIDL_PROGRAMS) + L"\\Certificate Manager.lnk");
}

// What lumora_host.exe --register writes into a folder of its own, naming the host as the installed
// manifests do.
std::string RegisteredManifest(const std::wstring& hostExe, const wchar_t* file) {
  vdtest::TempDir dir(L"vdregister");
  const std::wstring exe = dir.path() + L"\\lumora_host.exe";
  ::CopyFileW(hostExe.c_str(), exe.c_str(), FALSE);
  vdtest::RunProcess(L"\"" + exe + L"\" --register");
  std::vector<uint8_t> bytes = vdtest::ReadFileBytes(dir.path() + L"\\" + file);
  vdtest::RunProcess(L"\"" + exe + L"\" --unregister");
  std::string text(bytes.begin(), bytes.end());
  const size_t at = text.find("\"path\": \"") + 9;
  return at < 9 ? text : text.replace(at, text.find('"', at) - at, "lumora_host.exe");
}

// Runs msiexec, sharing no handle (Wine's desktop and vardeck, which it starts, outlive it), and answers its
// exit code; the time it took is one of the figures.
DWORD Msiexec(const char* what, const std::wstring& args) {
  std::wstring cmd = L"msiexec.exe /qn " + args;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const DWORD start = ::GetTickCount();
  if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return ~0u;
  vd::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
  DWORD code = ~0u;
  if (::WaitForSingleObject(process.get(), 120000) == WAIT_OBJECT_0) ::GetExitCodeProcess(process.get(), &code);
  std::printf("installer figure: %s %lu ms\n", what, ::GetTickCount() - start);
  std::fflush(stdout);
  return code;
}

// The process of the running vardeck's main window, whoever started it.
vd::UniqueKernelHandle WaitVardeck() {
  for (int i = 0; i < 150; ++i, ::Sleep(100)) {
    DWORD pid = 0;
    if (HWND w = ::FindWindowW(L"#32770", L"Opalix Certificate Manager")) ::GetWindowThreadProcessId(w, &pid);
    if (pid) return vd::UniqueKernelHandle(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  }
  return {};
}

TEST(InstallerTest, InstallsUpgradesKeepingTheUsersChoicesAndRemovesEverything) {
  const Package base(L"base"), upgrade(L"upgrade");
  ASSERT_FALSE(base.path.empty() || upgrade.path.empty()) << "the setup builds a package and its upgrade";
  struct EndVardeck {  // whatever fails, no vardeck of this test outlives it
    ~EndVardeck() { vdtest::RequestTermination(); }
  } endVardeck;
  const std::wstring dir = Folder(CSIDL_PROGRAM_FILES) + L"\\Kestrova\\Brindlemark_Lumora\\";
  const std::wstring sign = vdtest::Sha1OfFile(vdtest::TestCert(L"sign.der"));
  ASSERT_TRUE(vdtest::TokenctlSucceeds(L"insert 1"));
  ASSERT_TRUE(vdtest::TokenctlSucceeds(L"add-cert 1 \"" + vdtest::TestCert(L"sign.der") + L"\""));

  const std::wstring property = L" TRUSTEDORIGINS=\"https://ebank.example;https://pay.example:8443\"";
  ASSERT_EQ(Msiexec("install", L"/i " + base.path + property), 0u);
  EXPECT_EQ(Value(L"Path"), dir);
  EXPECT_EQ(Value(L"Version"), base.version);
  EXPECT_TRUE(Exists(dir + L"lang\\qvcertd_Lumora_1033.lng")) << "vardeck reads <Path>lang\\...";
  for (const wchar_t* file : {L"vardeck.exe", L"npLumora.dll", L"lumora_host.exe", L"LumoraCSP11Brindlemark.dll"})
    EXPECT_EQ(vdtest::ReadFileBytes(dir + file), vdtest::ReadFileBytes(vdtest::BinDir() + file)) << file;
  constexpr wchar_t kList[] = L"https://ebank.example\0https://pay.example:8443\0";
  const std::wstring origins(kList, std::size(kList));  // the literal's terminator ends the multi-string
  DWORD type = 0;
  EXPECT_EQ(TrustedOrigins(&type), origins) << "one origin a line, from the property's ';'";
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  for (const auto& b : kBrowserKeys)
    EXPECT_EQ(vd::RegReadString(HKEY_LOCAL_MACHINE, b.key, b.value).value_or(L"-"), dir + b.file) << b.key;
  for (const wchar_t* manifest : {L"com.kestrova.lumora.json", L"com.kestrova.lumora.firefox.json"}) {
    std::vector<uint8_t> installed = vdtest::ReadFileBytes(dir + manifest);
    EXPECT_EQ(std::string(installed.begin(), installed.end()),
              RegisteredManifest(dir + L"lumora_host.exe", manifest));
  }
  EXPECT_TRUE(HasShortcut());
  vdtest::ProcessResult nphost = vdtest::RunTool(L"nphost.exe", L"--origin https://ebank.example --mime application/npLumora GetKeyCount");
  EXPECT_EQ(nphost.out, "int 1\r\n") << "a browser finds the plug-in by its type alone: " << nphost.err;

  // At logon the Run entry starts vardeck, which registers the token present.
  const std::wstring run = vd::RegReadString(HKEY_LOCAL_MACHINE, kRunKey, L"Certificate Manager").value_or(L"");
  ASSERT_EQ(run, L"\"" + dir + L"vardeck.exe\"");
  vdtest::VardeckProcess first(L"", run.substr(1, run.size() - 2));
  EXPECT_TRUE(vdtest::WaitStore(L"MY", sign, true, 15000));

  // The user's choices as vardeck writes them (a one-byte PopFlag), and the notifier's.
  ASSERT_TRUE(vd::RegWriteBytes(HKEY_LOCAL_MACHINE, kInstallKey, L"PopFlag", REG_SZ, "1", 1));
  ASSERT_TRUE(vd::RegWriteString(HKEY_LOCAL_MACHINE, kInstallKey, L"http Address", L"https://home.example/"));
  ASSERT_TRUE(vd::RegWriteDword(HKEY_CURRENT_USER, kNotifierKey, L"timeSpan", 7));
  ASSERT_EQ(Msiexec("upgrade", L"/i " + upgrade.path), 0u);
  EXPECT_TRUE(first.WaitExit(5000)) << "the old version's uninstall ends its vardeck";
  vd::UniqueKernelHandle second = WaitVardeck();
  EXPECT_TRUE(second) << "the upgrade starts the new vardeck";
  EXPECT_TRUE(vdtest::WaitStore(L"MY", sign, true, 15000));
  EXPECT_EQ(Value(L"Version"), upgrade.version);
  EXPECT_EQ(Value(L"PopFlag").substr(0, 1), L"1");
  EXPECT_EQ(Value(L"http Address"), L"https://home.example/");
  EXPECT_EQ(TrustedOrigins(), origins) << "an upgrade that names no origins keeps the list";

  EXPECT_EQ(Msiexec("downgrade", L"/i " + base.path), 1603u);
  EXPECT_EQ(Value(L"Version"), upgrade.version);

  ASSERT_EQ(Msiexec("uninstall", L"/x " + upgrade.path), 0u);
  EXPECT_EQ(::WaitForSingleObject(second.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0)) << "vardeck ends";
  EXPECT_FALSE(vdtest::StoreHas(L"MY", sign)) << "and taken its MY entries with it";
  EXPECT_FALSE(Exists(Folder(CSIDL_PROGRAM_FILES) + L"\\Kestrova"));
  EXPECT_FALSE(HasShortcut());
  EXPECT_FALSE(vd::RegReadString(HKEY_LOCAL_MACHINE, kRunKey, L"Certificate Manager"));
  EXPECT_FALSE(KeyExists(L"SOFTWARE\\Kestrova"));
  for (const auto& b : kBrowserKeys) EXPECT_FALSE(KeyExists(b.key)) << b.key;
  EXPECT_EQ(vd::RegReadDword(HKEY_CURRENT_USER, kNotifierKey, L"timeSpan").value_or(0), 7u)
      << "the user's own settings stay, as an upgrade needs them to";
}

}  // namespace
