// Binding of the token module: every way it can fail releases the module; a good one binds once; a module
// lacking an entry a program calls is refused by that program.
#include <gtest/gtest.h>

#include <string>

#include "testsupport.h"
#include "token_manager.h"
#include "token_queries.h"
#include "token_test_util.h"

namespace {

class Binding : public tokentest::TokenStoreTest {};

TEST_F(Binding, BrokenModulesAreRefusedAndReleased) {
  struct Row {
    const wchar_t* file;
    const char* what;
  } rows[] = {
      {L"no_such_token_module.dll", "missing file"},
      {L"simtoken_noaux.dll", "no vendor table export"},
      {L"simtoken_nullevent.dll", "vendor table without an event entry"},
  };
  for (const Row& r : rows) {
    vd::TokenManager manager(r.file);
    EXPECT_EQ(manager.Load(), static_cast<CK_RV>(CKR_FUNCTION_FAILED)) << r.what;
    EXPECT_FALSE(manager.IsLoaded()) << r.what;
    EXPECT_EQ(manager.Functions(), nullptr) << r.what;
    EXPECT_EQ(manager.AuxFunctions(), nullptr) << r.what;
    EXPECT_EQ(::GetModuleHandleW(r.file), nullptr) << r.what << " stayed loaded";
    EXPECT_EQ(manager.Unload(), static_cast<CK_RV>(CKR_OK)) << r.what;
    EXPECT_EQ(manager.StartMonitor(nullptr, vd::kTokenEventMessage), static_cast<CK_RV>(CKR_OK)) << r.what;
    EXPECT_FALSE(manager.IsMonitorRunning()) << r.what;  // no event entry to wait in
  }
}

TEST_F(Binding, ModuleLackingAnEntryItsProgramCallsIsRefused) {
  // One entry at a time made null in a module that is otherwise whole: the program that calls it refuses
  // the module instead of calling through the null entry later; the other program binds it and works.
  struct Row {
    const char* entry;  // null: the whole module
    bool vardeckRefuses, queriesRefuse;
  } rows[] = {
      {nullptr, false, false},
      {"C_Initialize", true, true},
      {"C_Finalize", true, true},
      {"C_GetSlotList", true, true},
      {"C_GetSlotInfo", true, false},
      {"C_GetTokenInfo", true, true},
      {"C_OpenSession", true, true},
      {"C_CloseSession", true, true},
      {"C_CloseAllSessions", false, true},
      {"C_FindObjectsInit", true, true},
      {"C_FindObjects", true, true},
      {"C_FindObjectsFinal", true, true},
      {"C_GetAttributeValue", true, true},
      {"C_SetPIN", true, false},
      {"C_Sign", false, false},
      {"E_WaitForEvent", true, false},
      {"E_GetPinInfo", false, false},  // checked where it is used
  };
  const wchar_t kModule[] = L"token_badmodule.dll";
  for (const Row& r : rows) {
    SCOPED_TRACE(r.entry ? r.entry : "whole module");
    ::SetEnvironmentVariableA("BADMODULE_NULL_ENTRY", r.entry);
    {
      vd::TokenManager manager(kModule);
      EXPECT_EQ(manager.Load(), static_cast<CK_RV>(r.vardeckRefuses ? CKR_FUNCTION_FAILED : CKR_OK));
      EXPECT_EQ(manager.IsLoaded(), !r.vardeckRefuses);
      EXPECT_EQ(::GetModuleHandleW(kModule) != nullptr, !r.vardeckRefuses);
      EXPECT_EQ(manager.HasToken(1), !r.vardeckRefuses);
    }
    {
      tq::TokenQueries queries("token_badmodule.dll");
      // A whole module still answers "failed" here: it has no re-initialising entry.
      EXPECT_EQ(queries.Load(), r.queriesRefuse ? tq::kLoadFailed : 0);
      EXPECT_EQ(queries.bound(), !r.queriesRefuse);
      EXPECT_EQ(::GetModuleHandleW(kModule) != nullptr, !r.queriesRefuse);
      EXPECT_EQ(queries.GetKeyCount(), r.queriesRefuse ? 0 : 1);
      char serial[tq::kSerialTextSize] = {};
      queries.GetUKeySN(serial, sizeof serial);
      EXPECT_EQ(std::string(serial), r.queriesRefuse ? "" : "                ");  // the module's blank serial
      bool asked = false;
      EXPECT_EQ(queries.InitKey("                ", 16, [&](const tq::EraseCandidate&) { return asked = true; }),
                tq::kInitKeyFailed);
      EXPECT_FALSE(asked);
    }
  }
  ::SetEnvironmentVariableA("BADMODULE_NULL_ENTRY", nullptr);
}

TEST_F(Binding, GoodModuleBindsOnceAndUnbinds) {
  {
    vd::TokenManager manager;
    ASSERT_EQ(manager.Load(), static_cast<CK_RV>(CKR_OK));
    EXPECT_TRUE(manager.IsLoaded());
    ASSERT_NE(manager.Functions(), nullptr);
    ASSERT_NE(manager.AuxFunctions(), nullptr);
    EXPECT_FALSE(manager.HasAnyToken());  // nothing inserted
    CK_FUNCTION_LIST* first = manager.Functions();
    EXPECT_EQ(manager.Load(), static_cast<CK_RV>(CKR_OK));
    EXPECT_EQ(manager.Functions(), first);
    EXPECT_NE(::GetModuleHandleW(vd::kProduct.moduleFile), nullptr);
    EXPECT_EQ(manager.Unload(), static_cast<CK_RV>(CKR_OK));
    EXPECT_EQ(::GetModuleHandleW(vd::kProduct.moduleFile), nullptr);
    EXPECT_EQ(manager.Unload(), static_cast<CK_RV>(CKR_OK));
    // Bound again after an unload, and left bound: the destructor has to finalise and release it.
    ASSERT_EQ(manager.Load(), static_cast<CK_RV>(CKR_OK));
  }
  EXPECT_EQ(::GetModuleHandleW(vd::kProduct.moduleFile), nullptr);
}

// A bare name is the file beside the program: a module of that name in the current folder or along PATH,
// where someone else may have put it, is never loaded.
TEST_F(Binding, BareNameIsTheFileBesideTheProgramNeverOneAlongTheSearchPath) {
  vdtest::TempDir elsewhere(L"vdsearch");
  const std::wstring copy = elsewhere.path() + L"\\planted_module.dll";
  ASSERT_TRUE(::CopyFileW((vdtest::BinDir() + vd::kProduct.moduleFile).c_str(), copy.c_str(), FALSE));
  wchar_t cwd[MAX_PATH] = {}, path[4096] = {};
  ::GetCurrentDirectoryW(MAX_PATH, cwd);
  ::GetEnvironmentVariableW(L"PATH", path, 4096);
  ASSERT_TRUE(::SetCurrentDirectoryW(elsewhere.path().c_str()));
  ::SetEnvironmentVariableW(L"PATH", (elsewhere.path() + L";" + path).c_str());
  CK_RV byName = CKR_OK;
  {
    vd::TokenManager manager(L"planted_module.dll");
    byName = manager.Load();
  }
  ::SetCurrentDirectoryW(cwd);
  ::SetEnvironmentVariableW(L"PATH", path);
  EXPECT_EQ(byName, static_cast<CK_RV>(CKR_FUNCTION_FAILED));
  vd::TokenManager byPath(copy);
  EXPECT_EQ(byPath.Load(), static_cast<CK_RV>(CKR_OK)) << "the same file named by its path";
}

}  // namespace
