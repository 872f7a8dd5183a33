// nphost.exe as people run it: one method call per process, the result printed on standard output.
#include <windows.h>

#include <gtest/gtest.h>

#include "testsupport.h"
#include "text.h"
#include "trusted_list.h"

namespace {

class NphostCliTest : public ::testing::Test {
 protected:
  // Standard output is in text mode, so lines end in CR LF; the tests compare the text without the CRs.
  static vdtest::ProcessResult Nphost(const std::wstring& args, const std::wstring& dir = vdtest::BinDir()) {
    vdtest::ProcessResult r = vdtest::RunProcess(L"\"" + dir + L"nphost.exe\" " + args);
    std::erase(r.out, '\r');
    return r;
  }
  static std::wstring Plugin(const std::wstring& dir = vdtest::BinDir()) { return L"\"" + dir + L"npLumora.dll\""; }
  vdtest::ScopedSimTokenDir tokens_;
};

TEST_F(NphostCliTest, PrintsEachKindOfResult) {
  hosttest::ScopedTrustedOrigins list;
  ASSERT_TRUE(list.SetList({L"http://127.0.0.1"}));  // nphost's page: only a listed page reaches the token
  ASSERT_EQ(vdtest::RunTool(L"tokenctl.exe", L"insert 1 --serial ABCDEF123456").exitCode, 0u);
  ASSERT_EQ(vdtest::RunTool(L"tokenctl.exe", L"add-cert 1 \"" + vdtest::TestCert(L"sign.der") + L"\"").exitCode, 0u);
  const struct {
    const wchar_t* args;
    DWORD exitCode;
    const char* out;
  } rows[] = {
      {L"GetKeyCount", 0, "int 1\n"},
      {L"GetUKeySN", 0, "string \"ABCDEF123456    \"\n"},
      {L"GetAllCertCn", 0, "string \"Alice Signer\"\n"},
      {L"InitKey abcdef123456", 0, "int 4099\n"},
      {L"InitKey \"\"", 0, "int 4101\n"},
      {L"InitKey", 1, "error\n"},
      {L"GetKeyCount extra", 1, "error\n"},
      {L"getkeycount", 1, "error\n"},
  };
  for (const auto& row : rows) {
    vdtest::ProcessResult r = Nphost(Plugin() + L" " + row.args);
    EXPECT_EQ(r.exitCode, row.exitCode) << vd::WideToAnsi(row.args) << r.err;
    EXPECT_EQ(r.out, row.out) << vd::WideToAnsi(row.args);
  }
}

TEST_F(NphostCliTest, ReportsWhatKeepsItFromRunning) {
  vdtest::ProcessResult usage = Nphost(L"");
  EXPECT_EQ(usage.exitCode, 2u);
  EXPECT_NE(usage.err.find("usage: nphost PLUGIN.dll METHOD [TEXT]"), std::string::npos);
  vdtest::ProcessResult missing = Nphost(L"C:\\no\\such\\plugin.dll GetKeyCount");
  EXPECT_EQ(missing.exitCode, 2u);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("cannot load"), std::string::npos);
  vdtest::ProcessResult unregistered = Nphost(L"--mime application/x-vdtest-none GetKeyCount");
  EXPECT_EQ(unregistered.exitCode, 2u);
  EXPECT_NE(unregistered.err.find("no plug-in is registered for application/x-vdtest-none"), std::string::npos);
}

// Runs nphost from a folder of its own holding the plug-in and, if given, a stand-in for the token module;
// the module is searched for in the current folder too, so the children run from there. nphost's page is
// listed, so that "InitKey" gets as far as the module.
class NphostAloneTest : public NphostCliTest {
 protected:
  void Populate(const wchar_t* moduleStandIn) {
    ASSERT_TRUE(list_.SetList({L"http://127.0.0.1"}));
    for (const wchar_t* file : {L"nphost.exe", L"npLumora.dll"})
      ASSERT_TRUE(::CopyFileW((vdtest::BinDir() + file).c_str(), (dir_ + file).c_str(), FALSE));
    if (moduleStandIn) {
      ASSERT_TRUE(::CopyFileW((vdtest::BinDir() + moduleStandIn).c_str(),
                              (dir_ + L"LumoraCSP11Brindlemark.dll").c_str(), FALSE));
    }
    ASSERT_EQ(vdtest::RunTool(L"tokenctl.exe", L"insert 1 --serial ABCDEF123456").exitCode, 0u);
    ::GetCurrentDirectoryW(MAX_PATH, previous_);
    ASSERT_TRUE(::SetCurrentDirectoryW(alone_.path().c_str()));
  }
  void TearDown() override {
    if (previous_[0]) ::SetCurrentDirectoryW(previous_);
  }
  void Expect(const wchar_t* args, const char* out) {
    vdtest::ProcessResult r = Nphost(Plugin(dir_) + L" " + args, dir_);
    EXPECT_EQ(r.exitCode, 0u) << vd::WideToAnsi(args);
    EXPECT_EQ(r.out, out) << vd::WideToAnsi(args);
  }

  hosttest::ScopedTrustedOrigins list_;
  vdtest::TempDir alone_{L"nphostalone"};
  std::wstring dir_ = alone_.path() + L"\\";
  wchar_t previous_[MAX_PATH] = {};
};

TEST_F(NphostAloneTest, WithoutTokenModuleEveryQueryFailsSoftly) {
  Populate(nullptr);
  Expect(L"GetKeyCount", "int 0\n");
  Expect(L"GetSN", "string \"\"\n");
  Expect(L"GetUKeySN", "string \"\"\n");
  Expect(L"InitKey ABCDEF123456", "int 4099\n");
}

TEST_F(NphostAloneTest, ModuleWithoutExtensionTableCannotInitialise) {
  Populate(L"simtoken_noaux.dll");
  Expect(L"GetKeyCount", "int 1\n");
  Expect(L"GetUKeySN", "string \"ABCDEF123456    \"\n");
  Expect(L"InitKey ABCDEF123456", "int 4099\n");
}

// As a browser loads it: the plug-in and the module in the installation folder, the browser elsewhere, so
// that the system's search for the module's bare name cannot find it.
TEST_F(NphostAloneTest, FindsTheModuleBesideThePluginWhereTheSystemDoesNotLook) {
  Populate(nullptr);
  const std::wstring installed = dir_ + L"installed\\";
  ASSERT_TRUE(::CreateDirectoryW(installed.c_str(), nullptr));
  ASSERT_TRUE(::MoveFileW((dir_ + L"npLumora.dll").c_str(), (installed + L"npLumora.dll").c_str()));
  ASSERT_TRUE(::CopyFileW((vdtest::BinDir() + L"LumoraCSP11Brindlemark.dll").c_str(),
                          (installed + L"LumoraCSP11Brindlemark.dll").c_str(), FALSE));
  vdtest::ProcessResult r = Nphost(Plugin(installed) + L" GetKeyCount", dir_);
  EXPECT_EQ(r.out, "int 1\n") << r.err;
}

}  // namespace
