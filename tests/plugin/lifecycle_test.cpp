// The plug-in's token module over the plug-in's own life: bound with the first object, finalised and let go
// in NP_Shutdown (never left to DllMain, which runs under the loader lock), and bound afresh when the
// browser initialises the plug-in again for a later page.
#include <windows.h>

#include <gtest/gtest.h>

#include "pkcs11.h"
#include "plugin_page.h"
#include "testsupport.h"
#include "trusted_list.h"

using namespace plugintest;

namespace {

constexpr char kModule[] = "LumoraCSP11Brindlemark.dll";

class PluginLifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(vdtest::RunTool(L"tokenctl.exe", L"insert 1 --serial ABCDEF123456").exitCode, 0u);
    ASSERT_TRUE(list_.SetList({L"http://127.0.0.1"}));  // nphost's page: only a listed page reaches the token
  }
  // A page on `lib`: one instance, one call, everything released again.
  static std::string CallOnce(nphost::PluginLibrary& lib, const char* method) {
    nphost::Instance inst(lib);
    if (inst.New() != NPERR_NO_ERROR) return "no instance";
    NPObject* obj = inst.ScriptableObject();
    if (!obj) return "no object";
    NPVariant result = nphost::VoidVariant();
    const bool ok = nphost::InvokeMethod(inst.npp(), obj, method, {}, &result);
    std::string text = nphost::DescribeResult(ok, result);
    if (ok) nphost::ReleaseVariant(&result);
    Browser().releaseobject(obj);
    return text;
  }

  vdtest::ScopedSimTokenDir tokens_;
  hosttest::ScopedTrustedOrigins list_;
};

TEST_F(PluginLifecycleTest, ShutdownFinalisesAndUnloadsTheModuleAndInitialiseBindsItAgain) {
  nphost::PluginLibrary lib;
  std::string why;
  ASSERT_TRUE(lib.Load(PluginDll(), &why)) << why;
  ASSERT_EQ(CallOnce(lib, "GetKeyCount"), "int 1");
  ASSERT_NE(::GetModuleHandleA(kModule), nullptr);

  // Our own reference keeps the module in memory, so that we can ask it whether it was finalised.
  HMODULE own = ::LoadLibraryA(kModule);
  ASSERT_NE(own, nullptr);
  auto getList = reinterpret_cast<CK_C_GetFunctionList>(
      reinterpret_cast<void*>(::GetProcAddress(own, "C_GetFunctionList")));
  CK_FUNCTION_LIST* f = nullptr;
  ASSERT_TRUE(getList && getList(&f) == CKR_OK);
  CK_ULONG n = 0;
  EXPECT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);

  ASSERT_EQ(lib.Shutdown(), NPERR_NO_ERROR);
  EXPECT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), static_cast<CK_RV>(CKR_CRYPTOKI_NOT_INITIALIZED));
  ::FreeLibrary(own);
  // The plug-in's own reference went in NP_Shutdown, while the plug-in itself is still loaded.
  EXPECT_EQ(::GetModuleHandleA(kModule), nullptr);
  EXPECT_NE(::GetModuleHandleW(PluginDll().c_str()), nullptr);

  ASSERT_EQ(lib.Initialize(), NPERR_NO_ERROR);
  EXPECT_EQ(CallOnce(lib, "GetUKeySN"), "string \"ABCDEF123456    \"");
  EXPECT_NE(::GetModuleHandleA(kModule), nullptr);
  lib.Unload();
  EXPECT_EQ(::GetModuleHandleA(kModule), nullptr);
  EXPECT_EQ(nphost::OutstandingAllocations(), 0);
}

// A browser may still hold an object when it shuts the plug-in down; the object then answers as a plug-in
// without a module does, and neither rebinds the module nor touches freed state.
TEST_F(PluginLifecycleTest, ObjectHeldPastShutdownAnswersSoftly) {
  const long before = nphost::LiveObjects();
  nphost::PluginLibrary lib;
  std::string why;
  ASSERT_TRUE(lib.Load(PluginDll(), &why)) << why;
  nphost::Instance inst(lib);
  ASSERT_EQ(inst.New(), NPERR_NO_ERROR);
  NPObject* obj = inst.ScriptableObject();
  ASSERT_NE(obj, nullptr);
  ASSERT_EQ(inst.Destroy(), NPERR_NO_ERROR);
  ASSERT_EQ(lib.Shutdown(), NPERR_NO_ERROR);

  const struct {
    const char* method;
    std::vector<NPVariant> args;
    const char* expected;
  } rows[] = {
      {"GetKeyCount", {}, "int 0"},
      {"GetUKeySN", {}, "string \"\""},
      {"GetAllCertCn", {}, "string \"\""},
      {"InitKey", {nphost::StringVariant("ABCDEF123456")}, "int 4099"},
  };
  for (const auto& row : rows) {
    NPVariant result = nphost::VoidVariant();
    const bool ok = nphost::InvokeMethod(inst.npp(), obj, row.method, row.args, &result);
    EXPECT_EQ(nphost::DescribeResult(ok, result), row.expected) << row.method;
    if (ok) nphost::ReleaseVariant(&result);
  }
  EXPECT_EQ(::GetModuleHandleA(kModule), nullptr);
  Browser().releaseobject(obj);
  EXPECT_EQ(nphost::LiveObjects(), before);
  vdtest::ProcessResult list = vdtest::RunTool(L"tokenctl.exe", L"list");
  EXPECT_NE(list.out.find("Opalix Token"), std::string::npos) << list.out;  // not re-initialised
}

}  // namespace
