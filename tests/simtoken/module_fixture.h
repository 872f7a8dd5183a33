// Loads a token module the way the programs do (by file name, then its two tables) and gives each test a
// state folder of its own, so tests never see each other's tokens.
#pragma once

#include <gtest/gtest.h>

#include "handles.h"
#include "pkcs11.h"
#include "testsupport.h"

#include <string>
#include <vector>

namespace simtest {

// The module the suites run against: the simulated one, unless SIMTEST_MODULE names another (the
// conformance suite runs a second time through the call counter, p11count.dll).
inline std::wstring ModuleUnderTest() {
  wchar_t buf[MAX_PATH];
  DWORD n = ::GetEnvironmentVariableW(L"SIMTEST_MODULE", buf, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(buf, n) : L"LumoraCSP11Brindlemark.dll";
}

struct LoadedModule {
  vd::UniqueModule dll;
  CK_FUNCTION_LIST* f = nullptr;
  AuxFunctionList* aux = nullptr;

  explicit LoadedModule(const wchar_t* file = nullptr) {
    dll.reset(::LoadLibraryW((vdtest::BinDir() + (file ? file : ModuleUnderTest())).c_str()));
    if (!dll) return;
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(
        reinterpret_cast<void*>(::GetProcAddress(dll.get(), "C_GetFunctionList")));
    auto getAux = reinterpret_cast<GetAuxFunctionListFn>(
        reinterpret_cast<void*>(::GetProcAddress(dll.get(), "E_GetAuxFunctionList")));
    if (getList) getList(&f);
    if (getAux) getAux(&aux);
  }
};

// tokenctl with the test's state folder (inherited through SIMTOKEN_DIR); fails the test unless it exits 0.
inline std::string Ctl(const std::wstring& args) { return vdtest::Tokenctl(args); }

inline std::wstring CertArg(const wchar_t* name) { return L"\"" + vdtest::TestCert(name) + L"\""; }

// Handles printed by add-cert: certificate first, then the key when there is one.
inline std::vector<CK_OBJECT_HANDLE> Handles(const std::string& out) {
  std::vector<CK_OBJECT_HANDLE> h;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t used = 0;
    try {
      h.push_back(std::stoul(out.substr(pos), &used));
    } catch (...) {
      break;
    }
    pos += used;
  }
  return h;
}

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m.f) << "module or C_GetFunctionList missing";
    ASSERT_TRUE(m.aux) << "E_GetAuxFunctionList missing";
    ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
  }
  void TearDown() override {
    if (m.f) m.f->C_Finalize(nullptr);
  }

  CK_SESSION_HANDLE Open(CK_SLOT_ID slot, CK_FLAGS flags = CKF_SERIAL_SESSION | CKF_RW_SESSION) {
    CK_SESSION_HANDLE s = 0;
    EXPECT_EQ(m.f->C_OpenSession(slot, flags, nullptr, nullptr, &s), CKR_OK);
    return s;
  }

  std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE s, std::vector<CK_ATTRIBUTE> tmpl) {
    std::vector<CK_OBJECT_HANDLE> found;
    EXPECT_EQ(m.f->C_FindObjectsInit(s, tmpl.data(), static_cast<CK_ULONG>(tmpl.size())), CKR_OK);
    for (;;) {
      CK_OBJECT_HANDLE h = 0;
      CK_ULONG n = 0;
      CK_RV rv = m.f->C_FindObjects(s, &h, 1, &n);
      EXPECT_EQ(rv, CKR_OK);
      if (rv != CKR_OK || n == 0) break;
      found.push_back(h);
    }
    EXPECT_EQ(m.f->C_FindObjectsFinal(s), CKR_OK);
    return found;
  }

  // Reads one attribute with a length query first, as the programs do.
  std::vector<uint8_t> Attr(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o, CK_ATTRIBUTE_TYPE type) {
    CK_ATTRIBUTE a{type, nullptr, 0};
    if (m.f->C_GetAttributeValue(s, o, &a, 1) != CKR_OK) return {};
    std::vector<uint8_t> v(a.ulValueLen);
    a.pValue = v.data();
    EXPECT_EQ(m.f->C_GetAttributeValue(s, o, &a, 1), CKR_OK);
    v.resize(a.ulValueLen);
    return v;
  }

  // Consumes the events raised so far (tokenctl's own among them), so a test sees only what follows.
  void DrainEvents() {
    CK_SLOT_ID slot;
    CK_ULONG code, data;
    while (m.aux->waitForEvent(CKF_DONT_BLOCK, &slot, &code, &data, nullptr) == CKR_OK) {
    }
  }

  vdtest::ScopedSimTokenDir dir;  // before the module initialises, which reads SIMTOKEN_DIR
  LoadedModule m;
};

}  // namespace simtest
