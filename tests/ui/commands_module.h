// The simulated token module bound in the test process as the window binds it, over a state folder of the
// test's own, with tokenctl to change the tokens and a raw view of what the token holds.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "module_binding.h"
#include "product.h"
#include "testsupport.h"

namespace cmdtest {

class TokenModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(binding_.Bind(vd::kProduct.moduleFile), static_cast<CK_RV>(CKR_OK));
    ASSERT_EQ(binding_.Functions()->C_Initialize(nullptr), static_cast<CK_RV>(CKR_OK));
  }
  void TearDown() override {
    if (binding_.IsBound()) binding_.Functions()->C_Finalize(nullptr);
  }

  CK_FUNCTION_LIST* fl() const { return binding_.Functions(); }
  AuxFunctionList* aux() const { return binding_.Aux(); }

  // tokenctl with the test's state folder; the test fails unless it exits 0.
  static void Ctl(const std::wstring& args) { vdtest::Tokenctl(args); }

  // Fault rules ("tokenctl fail ...") take effect when the module initialises: set them, then start it again.
  void Fail(const std::wstring& args) {
    Ctl(L"fail " + args);
    binding_.Functions()->C_Finalize(nullptr);
    ASSERT_EQ(binding_.Functions()->C_Initialize(nullptr), static_cast<CK_RV>(CKR_OK));
  }

  // The label's 32 bytes as the module reports them, blanks included.
  std::string RawLabel(CK_SLOT_ID slot) const {
    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof info);
    if (fl()->C_GetTokenInfo(slot, &info) != CKR_OK) return "<no token>";
    return std::string(reinterpret_cast<const char*>(info.label), sizeof info.label);
  }

  // Puts bytes on the token as its label, unchecked: what another tool may have written.
  void SetRawLabel(CK_SLOT_ID slot, const std::string& bytes) const {
    CK_UTF8CHAR label[32];
    std::memset(label, ' ', sizeof label);
    std::memcpy(label, bytes.data(), bytes.size() < sizeof label ? bytes.size() : sizeof label);
    ASSERT_EQ(aux()->setLabel(slot, 0, 0, 0, label), static_cast<CK_RV>(CKR_OK));
  }

  static std::string Padded(const std::string& s) { return s + std::string(32 - s.size(), ' '); }

  vdtest::ScopedSimTokenDir simDir_;  // before the module initialises: it reads SIMTOKEN_DIR then
  vd::ModuleBinding binding_;
};

}  // namespace cmdtest
