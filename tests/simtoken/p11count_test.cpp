// The call counter between a program and a module (p11count.dll): it counts each call per function, lets
// this or another process read and reset the counts, and changes nothing on the way.
#include "call_counts.h"
#include "module_fixture.h"

#include <functional>

namespace simtest {
namespace {

// Sets an environment variable of this process (and its children) for a scope.
class ScopedEnv {
 public:
  ScopedEnv(const wchar_t* name, const std::wstring& value) : name_(name) {
    ::SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnv() { ::SetEnvironmentVariableW(name_, nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const wchar_t* name_;
};

std::string Rv(CK_RV rv) { return "rv=" + std::to_string(rv); }

struct Expected {
  const char* function;
  uint32_t calls;
};

void ExpectCounts(const vdtest::CallCounts& counts, const std::vector<Expected>& rows) {
  uint64_t total = 0;
  for (const Expected& e : rows) {
    EXPECT_EQ(counts.Of(e.function), e.calls) << e.function;
    total += e.calls;
  }
  std::string called;
  for (const auto& [name, n] : counts.Called()) called += name + "=" + std::to_string(n) + " ";
  EXPECT_EQ(counts.Total(), total) << called;
}

class CounterTest : public ::testing::Test {
 protected:
  vdtest::ScopedSimTokenDir dir;
};

TEST_F(CounterTest, CountsEachCallPerFunctionUntilReset) {
  Ctl(L"insert 1");
  Ctl(L"add-cert 1 " + CertArg(L"sign.der"));
  vdtest::CallCounts counts = vdtest::CallCounts::OfProcess(::GetCurrentProcessId());
  ASSERT_TRUE(counts.ok());
  counts.Reset();  // earlier tests of this process counted too
  LoadedModule m(L"p11count.dll");
  ASSERT_TRUE(m.f && m.aux);
  CK_FUNCTION_LIST* f = m.f;
  ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
  CK_SLOT_ID slots[12];
  CK_ULONG n = 12;
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  ASSERT_EQ(f->C_GetSlotList(CK_TRUE, slots, &n), CKR_OK);
  CK_SESSION_HANDLE s = 0;
  ASSERT_EQ(f->C_OpenSession(1, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s), CKR_OK);
  ASSERT_EQ(f->C_FindObjectsInit(s, nullptr, 0), CKR_OK);
  CK_OBJECT_HANDLE h[3];
  for (CK_OBJECT_HANDLE& one : h) ASSERT_EQ(f->C_FindObjects(s, &one, 1, &n), CKR_OK);
  EXPECT_EQ(n, 0u) << "two objects, then the empty answer";
  ASSERT_EQ(f->C_FindObjectsFinal(s), CKR_OK);
  CK_ATTRIBUTE a{CKA_VALUE, nullptr, 0};
  ASSERT_EQ(f->C_GetAttributeValue(s, h[0], &a, 1), CKR_OK);
  ASSERT_EQ(f->C_GetAttributeValue(s, h[0], &a, 1), CKR_OK);
  CK_BYTE tries[4];
  ASSERT_EQ(m.aux->getPinInfo(1, tries), CKR_OK);
  CK_SLOT_ID slot;
  CK_ULONG code, data;
  EXPECT_EQ(m.aux->waitForEvent(CKF_DONT_BLOCK, &slot, &code, &data, nullptr), CKR_NO_EVENT);
  ASSERT_EQ(f->C_CloseSession(s), CKR_OK);
  ASSERT_EQ(f->C_Finalize(nullptr), CKR_OK);
  CK_INFO info;
  EXPECT_EQ(f->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED) << "a failing call counts as well";
  ExpectCounts(counts, {{"C_GetFunctionList", 1}, {"E_GetAuxFunctionList", 1}, {"C_Initialize", 1},
                        {"C_GetSlotList", 2}, {"C_OpenSession", 1}, {"C_FindObjectsInit", 1}, {"C_FindObjects", 3},
                        {"C_FindObjectsFinal", 1}, {"C_GetAttributeValue", 2}, {"E_GetPinInfo", 1},
                        {"E_WaitForEvent", 1}, {"C_CloseSession", 1}, {"C_Finalize", 1}, {"C_GetInfo", 1}});
  EXPECT_EQ(counts.Of("C_Login"), 0u);
  EXPECT_EQ(counts.Of("C_NoSuchFunction"), vdtest::CallCounts::kUnknownFunction);
  counts.Reset();
  EXPECT_EQ(counts.Total(), 0u);
}

// The same calls straight to the module and through the counter: the same results and the same values in
// every out-parameter, failures included.
TEST_F(CounterTest, ResultsAndOutParametersPassThroughUnchanged) {
  Ctl(L"insert 1 --label Passing --tries 4");
  std::vector<CK_OBJECT_HANDLE> cert = Handles(Ctl(L"add-cert 1 " + CertArg(L"sign.der")));
  ASSERT_EQ(cert.size(), 2u);
  Ctl(L"insert 3");
  Ctl(L"remove 3");
  LoadedModule direct(L"LumoraCSP11Brindlemark.dll"), counted(L"p11count.dll");
  ASSERT_TRUE(direct.f && counted.f && counted.aux);
  ASSERT_NE(counted.f, direct.f) << "the counter hands out a table of its own";
  // Both reach the one copy of the module in this process, so one initialisation serves both.
  ASSERT_EQ(counted.f->C_Initialize(nullptr), CKR_OK);
  using Call = std::function<std::string(CK_FUNCTION_LIST*, AuxFunctionList*)>;
  auto session = [](CK_FUNCTION_LIST* f) {
    CK_SESSION_HANDLE s = 0;
    f->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &s);
    return s;
  };
  struct Row {
    const char* what;
    Call call;
  } rows[] = {
      {"slot list too small",
       [](CK_FUNCTION_LIST* f, AuxFunctionList*) {
         CK_SLOT_ID s[1] = {};
         CK_ULONG n = 0;
         CK_RV rv = f->C_GetSlotList(CK_FALSE, s, &n);
         return Rv(rv) + " n=" + std::to_string(n);
       }},
      {"token info",
       [](CK_FUNCTION_LIST* f, AuxFunctionList*) {
         CK_TOKEN_INFO t{};
         CK_RV rv = f->C_GetTokenInfo(1, &t);
         return Rv(rv) + std::string(reinterpret_cast<char*>(t.label), 32) + std::to_string(t.flags);
       }},
      {"pulled token", [](CK_FUNCTION_LIST* f, AuxFunctionList*) {
         CK_TOKEN_INFO t{};
         return Rv(f->C_GetTokenInfo(3, &t));
       }},
      {"value, missing attribute and short buffer",
       [&](CK_FUNCTION_LIST* f, AuxFunctionList*) {
         uint8_t value[4096], small[4];
         CK_ATTRIBUTE a[3] = {{CKA_VALUE, value, sizeof value}, {CKA_MODULUS, nullptr, 0}, {CKA_ID, small, 4}};
         CK_RV rv = f->C_GetAttributeValue(session(f), cert[0], a, 3);
         return Rv(rv) + std::string(reinterpret_cast<char*>(value), a[0].ulValueLen) + " " +
                std::to_string(a[1].ulValueLen) + " " + std::to_string(a[2].ulValueLen);
       }},
      {"found handles",
       [&](CK_FUNCTION_LIST* f, AuxFunctionList*) {
         CK_SESSION_HANDLE s = session(f);
         CK_OBJECT_HANDLE h[4] = {};
         CK_ULONG n = 0;
         f->C_FindObjectsInit(s, nullptr, 0);
         CK_RV rv = f->C_FindObjects(s, h, 4, &n);
         f->C_FindObjectsFinal(s);
         return Rv(rv) + " " + std::to_string(n) + " " + std::to_string(h[0]) + " " + std::to_string(h[1]);
       }},
      {"unknown session", [](CK_FUNCTION_LIST* f, AuxFunctionList*) { return Rv(f->C_FindObjectsInit(9999, nullptr, 0)); }},
      {"pin tries",
       [](CK_FUNCTION_LIST*, AuxFunctionList* aux) {
         CK_BYTE out[4] = {};
         CK_RV rv = aux->getPinInfo(1, out);
         return Rv(rv) + " " + std::to_string(out[2]) + "/" + std::to_string(out[3]);
       }},
      {"no event", [](CK_FUNCTION_LIST*, AuxFunctionList* aux) {
         CK_SLOT_ID slot = 77;
         CK_ULONG code = 77, data = 77;
         CK_RV rv = aux->waitForEvent(CKF_DONT_BLOCK, &slot, &code, &data, nullptr);
         return Rv(rv) + " " + std::to_string(slot + code + data);
       }},
  };
  for (const Row& r : rows) EXPECT_EQ(r.call(counted.f, counted.aux), r.call(direct.f, direct.aux)) << r.what;
  EXPECT_EQ(counted.f->C_Finalize(nullptr), CKR_OK);
}

// P11COUNT_MODULE picks the module; what it lacks, the counter lacks too.
TEST_F(CounterTest, TheModuleNamedByTheEnvironment) {
  struct Row {
    std::wstring module;
    CK_RV listRv;
    CK_RV auxRv;
    bool eventEntry;
  } rows[] = {
      {vdtest::BinDir() + L"LumoraCSP11Brindlemark.dll", CKR_OK, CKR_OK, true},
      {L"simtoken_nullevent.dll", CKR_OK, CKR_OK, false},
      {L"simtoken_noaux.dll", CKR_OK, CKR_FUNCTION_FAILED, false},
      {L"no-such-module.dll", CKR_FUNCTION_FAILED, CKR_FUNCTION_FAILED, false},
      {L"p11count.dll", CKR_FUNCTION_FAILED, CKR_FUNCTION_FAILED, false},  // itself: refused, not endless
  };
  for (const Row& r : rows) {
    std::string shown(r.module.begin(), r.module.end());
    ScopedEnv env(L"P11COUNT_MODULE", r.module);
    LoadedModule m(L"p11count.dll");  // unloaded at the end of the round, so the next one loads afresh
    ASSERT_TRUE(m.dll) << shown;
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(
        reinterpret_cast<void*>(::GetProcAddress(m.dll.get(), "C_GetFunctionList")));
    auto getAux = reinterpret_cast<GetAuxFunctionListFn>(
        reinterpret_cast<void*>(::GetProcAddress(m.dll.get(), "E_GetAuxFunctionList")));
    CK_FUNCTION_LIST* f = nullptr;
    AuxFunctionList* aux = nullptr;
    EXPECT_EQ(getList(&f), r.listRv) << shown;
    EXPECT_EQ(getAux(&aux), r.auxRv) << shown;
    if (aux) {
      EXPECT_EQ(aux->waitForEvent != nullptr, r.eventEntry) << shown;
    }
  }
}

TEST_F(CounterTest, AnotherProcessCountsUnderTheGivenName) {
  Ctl(L"insert 2");
  std::wstring name = L"simtest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(::GetTickCount());
  vdtest::CallCounts counts(name);  // made before the program starts, so the counts outlive it
  ASSERT_TRUE(counts.ok());
  ScopedEnv env(L"P11COUNT_NAME", name);
  vdtest::ProcessResult r =
      vdtest::RunTool(L"simtoken_peer.exe", L"p11count.dll init open 2 3 label 2 Counted finalize");
  ASSERT_EQ(r.exitCode, 0u) << r.err;
  ExpectCounts(counts, {{"C_GetFunctionList", 1}, {"E_GetAuxFunctionList", 1}, {"C_Initialize", 1},
                        {"C_OpenSession", 3}, {"E_SetLabel", 1}, {"C_Finalize", 1}});
}

}  // namespace
}  // namespace simtest
