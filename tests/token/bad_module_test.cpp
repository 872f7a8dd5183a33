// A module that answers with garbage never crashes the manager, never leaves a session open and never
// leaves a registration behind.
#include <gtest/gtest.h>

#include "token_manager.h"
#include "token_test_util.h"

namespace {

using Configure = void (*)(int);
using OpenSessions = LONG (*)();

class BadModule : public tokentest::TokenStoreTest {
 protected:
  void SetUp() override {
    TokenStoreTest::SetUp();
    // Held for the whole test, so the mode set here is what the manager's binding sees.
    module_ = ::LoadLibraryW(L"token_badmodule.dll");
    ASSERT_NE(module_, nullptr);
    configure_ = reinterpret_cast<Configure>(reinterpret_cast<void*>(::GetProcAddress(module_, "BadModule_Configure")));
    openSessions_ =
        reinterpret_cast<OpenSessions>(reinterpret_cast<void*>(::GetProcAddress(module_, "BadModule_OpenSessions")));
    ASSERT_TRUE(configure_ && openSessions_);
  }
  void TearDown() override {
    if (module_) ::FreeLibrary(module_);
    TokenStoreTest::TearDown();
  }
  HMODULE module_ = nullptr;
  Configure configure_ = nullptr;
  OpenSessions openSessions_ = nullptr;
};

TEST_F(BadModule, GarbageAnswersAreSurvived) {
  struct Row {
    int mode;
    const char* what;
    bool listed;
    size_t certificates;
    const wchar_t* displayName;
  } rows[] = {
      {1, "value that is not DER", true, 1, L"Garbage label"},
      {2, "every attribute empty", true, 1, L""},
      {3, "value grows between the two reads", true, 0, nullptr},
      {4, "length beyond the buffer with success", true, 0, nullptr},
      {5, "length no token could hold", true, 0, nullptr},
      {6, "unavailable length with success", true, 0, nullptr},
      {7, "token pulled between the two reads", false, 0, nullptr},
      {8, "search that never runs dry", true, 4096, L"Garbage label"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    configure_(r.mode);
    vd::TokenManager manager(L"token_badmodule.dll");
    ASSERT_EQ(manager.Load(), static_cast<CK_RV>(CKR_OK));
    EXPECT_EQ(openSessions_(), 0);
    ASSERT_EQ(manager.HasToken(1), r.listed);
    if (r.listed) {
      auto token = manager.FindToken(1);
      EXPECT_EQ(token->slotDescription, L"Bad Slot");
      ASSERT_EQ(token->certificates.size(), r.certificates);
      if (r.certificates) {
        EXPECT_EQ(token->certificates[0].displayName, r.displayName);
      }
    }
    manager.OnObjectCreated(1, 100);
    manager.OnObjectCreated(1, 555);
    manager.OnObjectDestroyed(1, 100);
    manager.OnTokenInserted(1);
    EXPECT_EQ(openSessions_(), 0);
    manager.OnTokenRemoved(1);
    EXPECT_FALSE(manager.HasAnyToken());
  }
  // Nothing of it reached any store.
  auto all = tokentest::ReadStores();
  for (const auto& e : all) EXPECT_EQ(e.container.find("Bad Slot"), std::string::npos) << e.container;
}

}  // namespace
