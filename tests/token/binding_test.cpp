// Binding of the token module: every way it can fail releases the module; a good one binds once.
#include <gtest/gtest.h>

#include "token_manager.h"
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

}  // namespace
