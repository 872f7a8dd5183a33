// The five script methods against tokens made with tokenctl and real certificates: counting, serial
// numbers, re-initialisation by serial, the certificate listings, the fixed-size limits of the results,
// and failures of the module underneath.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "cert_maker.h"
#include "erase_dialog.h"
#include "pkcs11.h"
#include "plugin_page.h"
#include "testsupport.h"
#include "text.h"
#include "trusted_list.h"

using namespace plugintest;

namespace {

// nphost's page is listed, so "InitKey" reaches the token and the question; tests that get that far answer it.
class PluginTokenTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(list_.SetList({L"http://127.0.0.1"})); }
  static void Ctl(const std::wstring& args) { vdtest::Tokenctl(args); }
  static std::wstring Cert(const wchar_t* name) { return L"\"" + vdtest::TestCert(name) + L"\""; }
  // Writes a made-up certificate into the token folder's neighbourhood and adds it to `slot`.
  void AddMadeUp(int slot, const std::string& cn, const std::vector<uint8_t>& serial) {
    std::vector<uint8_t> der = MakeCertificate(cn, serial);
    ASSERT_FALSE(der.empty());
    std::wstring path = files_.path() + L"\\made" + std::to_wstring(made_++) + L".der";
    ASSERT_TRUE(vdtest::WriteFileBytes(path, der.data(), der.size()));
    Ctl(L"add-cert " + std::to_wstring(slot) + L" \"" + path + L"\" --key none");
  }

  // Sessions this process holds on a slot, as the module (loaded by the plug-in) counts them.
  static CK_ULONG SessionsOn(CK_SLOT_ID slot) {
    HMODULE m = ::GetModuleHandleA("LumoraCSP11Brindlemark.dll");
    if (!m) return 9999;
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(
        reinterpret_cast<void*>(::GetProcAddress(m, "C_GetFunctionList")));
    CK_FUNCTION_LIST* f = nullptr;
    CK_TOKEN_INFO info{};
    if (!getList || getList(&f) != CKR_OK || f->C_GetTokenInfo(slot, &info) != CKR_OK) return 9999;
    return info.ulSessionCount;
  }

  vdtest::ScopedSimTokenDir tokens_;
  hosttest::ScopedTrustedOrigins list_;
  vdtest::TempDir files_{L"plugincerts"};
  int made_ = 0;
};

TEST_F(PluginTokenTest, NoTokenAnswersNothing) {
  Page page;
  ASSERT_TRUE(page.ready());
  EXPECT_EQ(page.Call("GetKeyCount"), "int 0");
  EXPECT_EQ(page.Call("GetUKeySN"), "string \"\"");
  EXPECT_EQ(page.Call("GetSN"), "string \"\"");
  EXPECT_EQ(page.Call("GetAllCertCn"), "string \"\"");
  EXPECT_EQ(page.Call("InitKey", "ABCDEF123456"), "int 4099");
}

TEST_F(PluginTokenTest, SerialOfTheOneTokenKeepsItsBlanks) {
  const struct {
    const wchar_t* serial;
    const char* expected;
  } rows[] = {
      {L"ABCDEF123456", "string \"ABCDEF123456    \""},
      {L"0123456789ABCDEF", "string \"0123456789ABCDEF\""},
      {L"\"ab cd\"", "string \"ab cd           \""},
  };
  int slot = 1;
  for (const auto& row : rows) {
    Ctl(L"insert " + std::to_wstring(slot) + L" --serial " + row.serial);
    {
      Page page;
      EXPECT_EQ(page.Call("GetKeyCount"), "int 1");
      EXPECT_EQ(page.Call("GetUKeySN"), row.expected);
    }
    Ctl(L"remove " + std::to_wstring(slot++));
  }
}

TEST_F(PluginTokenTest, InitKeyNeedsTheExactSerial) {
  Ctl(L"insert 2 --serial ABCDEF123456");
  Ctl(L"add-cert 2 " + Cert(L"sign.der"));
  Page page;
  ASSERT_TRUE(page.ready());
  for (const char* wrong : {"abcdef123456", "ABCDEF123456    ", "ABCDEF12345", "ABCDEF1234567", "BCDEF123456"}) {
    EXPECT_EQ(page.Call("InitKey", wrong), "int 4099") << wrong;
  }
  EXPECT_EQ(page.Call("GetAllCertCn"), "string \"Alice Signer\"");  // untouched by the misses
  vdtest::EraseDialogAnswerer user(true);
  EXPECT_EQ(page.Call("InitKey", "ABCDEF123456"), "int 0");
  EXPECT_EQ(user.seen().size(), 1u) << "asked once, and not about the misses";
  EXPECT_EQ(SessionsOn(2), 0u);
  EXPECT_EQ(page.Call("GetAllCertCn"), "string \"\"");  // a fresh token holds no objects
  vdtest::ProcessResult list = vdtest::RunTool(L"tokenctl.exe", L"list");
  EXPECT_EQ(list.out.find("Opalix Token"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("ABCDEF123456"), std::string::npos) << list.out;
}

TEST_F(PluginTokenTest, TwoTokensCountButListNothing) {
  Ctl(L"insert 1 --serial ABCDEF123456");
  Ctl(L"insert 4 --serial 0123456789ABCDEF");
  Ctl(L"add-cert 1 " + Cert(L"sign.der"));
  Page page;
  ASSERT_TRUE(page.ready());
  EXPECT_EQ(page.Call("GetKeyCount"), "int 2");
  EXPECT_EQ(page.Call("GetUKeySN"), "string \"\"");
  EXPECT_EQ(page.Call("GetSN"), "string \"\"");
  EXPECT_EQ(page.Call("GetAllCertCn"), "string \"\"");
  // Re-initialisation picks its token by serial, so it still works with two present.
  vdtest::EraseDialogAnswerer user(true);
  EXPECT_EQ(page.Call("InitKey", "0123456789ABCDEF"), "int 0");
  EXPECT_EQ(page.Call("InitKey", "ABCDEF123456"), "int 0");
  EXPECT_EQ(SessionsOn(1), 0u);
  EXPECT_EQ(SessionsOn(4), 0u);
}

TEST_F(PluginTokenTest, TenTokensCountElevenDoNot) {
  for (int slot = 1; slot <= 10; ++slot)
    Ctl(L"insert " + std::to_wstring(slot) + L" --serial SN" + std::to_wstring(1000 + slot));
  {
    Page page;
    EXPECT_EQ(page.Call("GetKeyCount"), "int 10");
    EXPECT_EQ(page.Call("GetUKeySN"), "string \"\"");
  }
  Ctl(L"insert 11 --serial SN1011");
  Page page;
  EXPECT_EQ(page.Call("GetKeyCount"), "int 0");
  EXPECT_EQ(page.Call("GetUKeySN"), "string \"\"");
  EXPECT_EQ(page.Call("GetAllCertCn"), "string \"\"");
  EXPECT_EQ(page.Call("InitKey", "SN1005"), "int 4099");
}

TEST_F(PluginTokenTest, CertificatesAreJoinedInSearchOrder) {
  Ctl(L"insert 3");
  {
    Page page;
    EXPECT_EQ(page.Call("GetAllCertCn"), "string \"\"");
    EXPECT_EQ(page.Call("GetSN"), "string \"\"");
  }
  Ctl(L"add-cert 3 " + Cert(L"serial_hi.der"));
  {
    Page page;
    EXPECT_EQ(page.Call("GetAllCertCn"), "string \"Mallory High Serial\"");
    EXPECT_EQ(page.Call("GetSN"), "string \"00800000000000000001\"");  // the leading zero byte stays
  }
  Ctl(L"add-cert 3 " + Cert(L"serial_lz.pem"));
  Ctl(L"add-cert 3 " + Cert(L"sign.der") + L" --key none");
  Page page;
  EXPECT_EQ(page.Call("GetAllCertCn"), "string \"Mallory High Serial,Niaj Leading Zero,Alice Signer\"");
  std::string sn = page.Call("GetSN");
  EXPECT_EQ(sn.rfind("string \"00800000000000000001,01a2,", 0), 0u) << sn;
  EXPECT_EQ(SessionsOn(3), 0u);
  EXPECT_EQ(nphost::OutstandingAllocations(), 0);
}

TEST_F(PluginTokenTest, UndecodableCertificateEmptiesBothListings) {
  Ctl(L"insert 1");
  Ctl(L"add-cert 1 " + Cert(L"sign.der"));
  Ctl(L"add-cert 1 " + Cert(L"garbage.der") + L" --raw --key none");
  Ctl(L"add-cert 1 " + Cert(L"enc.der"));
  Page page;
  EXPECT_EQ(page.Call("GetAllCertCn"), "string \"\"");
  EXPECT_EQ(page.Call("GetSN"), "string \"\"");
  EXPECT_EQ(page.Call("GetKeyCount"), "int 1");
}

TEST_F(PluginTokenTest, CertificateOverEightKilobytesIsDecodedWhole) {
  ASSERT_GT(vdtest::ReadFileBytes(vdtest::TestCert(L"big.der")).size(), 8192u);
  Ctl(L"insert 1");
  Ctl(L"add-cert 1 " + Cert(L"big.der"));
  Ctl(L"add-cert 1 " + Cert(L"enc.der"));
  Page page;
  EXPECT_EQ(page.Call("GetAllCertCn"), "string \"Oscar Big Certificate,Bob Encipher\"");
}

// Entries are held in 100 bytes and the joined answer in 1000: a long name is cut to 99 characters, a
// long serial to its last whole byte, and the answer ends at the last whole entry within 999.
TEST_F(PluginTokenTest, LongEntriesAndLongListsAreCut) {
  Ctl(L"insert 1");
  AddMadeUp(1, std::string(150, 'N'), {0x01, 0x02});
  AddMadeUp(1, "Short", std::vector<uint8_t>(60, 0x3C));
  {
    Page page;
    EXPECT_EQ(page.Call("GetAllCertCn"), "string \"" + std::string(99, 'N') + ",Short\"");
    std::string hex;
    for (int i = 0; i < 49; ++i) hex += "3c";
    EXPECT_EQ(page.Call("GetSN"), "string \"0102," + hex + "\"");
  }
  // Ten entries of 99 characters and their nine commas make exactly 999; an eleventh never fits.
  Ctl(L"reset");
  Ctl(L"insert 1");
  for (int i = 0; i < 11; ++i) AddMadeUp(1, std::string(120, static_cast<char>('A' + i)), {static_cast<uint8_t>(i + 1)});
  Page page;
  std::string expected;
  for (int i = 0; i < 10; ++i) expected += (i ? "," : "") + std::string(99, static_cast<char>('A' + i));
  EXPECT_EQ(page.Call("GetAllCertCn"), "string \"" + expected + "\"");
}

// A module call failing part-way: the entries gathered before it are answered, nothing stays open.
TEST_F(PluginTokenTest, FailingModuleCallsAnswerWhatWasGathered) {
  Ctl(L"insert 1 --serial ABCDEF123456");
  for (const wchar_t* c : {L"sign.der", L"enc.der", L"nokey.der"}) Ctl(L"add-cert 1 " + Cert(c));
  const struct {
    const wchar_t* fault;
    const char* names;
  } rows[] = {
      {L"C_GetAttributeValue 0x30 --after 2", "string \"Alice Signer\""},  // length of the second fails
      {L"C_GetAttributeValue 0x30 --after 3", "string \"Alice Signer\""},  // value of the second fails
      {L"C_FindObjects 0x30 --after 2", "string \"Alice Signer,Bob Encipher\""},
      {L"C_FindObjectsInit 0x30", "string \"\""},
      {L"C_OpenSession 0x30", "string \"\""},
      {L"C_GetSlotList 0x30", "string \"\""},
  };
  for (const auto& row : rows) {
    Ctl(L"fail --clear");
    Ctl(std::wstring(L"fail ") + row.fault);
    Page page;
    EXPECT_EQ(page.Call("GetAllCertCn"), row.names) << vd::WideToAnsi(row.fault);
    EXPECT_EQ(SessionsOn(1), 0u) << vd::WideToAnsi(row.fault);
  }
}

TEST_F(PluginTokenTest, FailingVendorCallLeavesNoSession) {
  Ctl(L"insert 1 --serial ABCDEF123456");
  Ctl(L"add-cert 1 " + Cert(L"sign.der"));
  Ctl(L"fail E_InitToken 0x30");
  vdtest::EraseDialogAnswerer user(true);
  Page page;
  EXPECT_EQ(page.Call("InitKey", "ABCDEF123456"), "int 4099");
  EXPECT_EQ(SessionsOn(1), 0u);
  EXPECT_EQ(page.Call("GetAllCertCn"), "string \"Alice Signer\"");
}

// The question may stay open for minutes: a token put in the slot meanwhile is not the one the user was
// asked about, and keeps everything, even with the same serial number.
TEST_F(PluginTokenTest, TokenSwappedWhileTheQuestionIsOpenIsNotErased) {
  for (const wchar_t* swapped : {L"--serial 0123456789ABCDEF --label Other", L"--serial ABCDEF123456 --label Other",
                                 L"--serial ABCDEF123456 --model Other"}) {
    SCOPED_TRACE(vd::WideToUtf8(swapped));
    Ctl(L"reset");
    Ctl(L"insert 1 --serial ABCDEF123456");
    Page page;
    ASSERT_TRUE(page.ready());
    std::optional<vdtest::EraseDialogSeen> asked;
    std::thread user([&] {
      asked = vdtest::AnswerEraseDialog(true, 20000, [&] {
        Ctl(L"remove 1");
        Ctl(std::wstring(L"insert 1 ") + swapped);
        Ctl(L"add-cert 1 " + Cert(L"sign.der"));
      });
    });
    EXPECT_EQ(page.Call("InitKey", "ABCDEF123456"), "int 4099");
    user.join();
    ASSERT_TRUE(asked.has_value());
    EXPECT_NE(asked->request.find(L"ABCDEF123456"), std::wstring::npos);
    EXPECT_EQ(page.Call("GetAllCertCn"), "string \"Alice Signer\"");
    EXPECT_EQ(SessionsOn(1), 0u);
  }
}

// What a person types or clicks the moment the question shows is not an answer; a click after reading it
// is. Each attack comes from a page of its own: a cancelled question keeps its page's InitKey off for a while.
TEST_F(PluginTokenTest, StrayKeysAndEarlyClicksNeverErase) {
  const std::vector<vdtest::EraseAttack>& attacks = vdtest::EraseAttacks();
  std::vector<std::wstring> pages = {L"http://127.0.0.1", L"http://deliberate.example"};
  for (size_t i = 0; i < attacks.size(); ++i) pages.push_back(L"http://attack" + std::to_wstring(i) + L".example");
  ASSERT_TRUE(list_.SetList(pages));
  Ctl(L"insert 1 --serial ABCDEF123456");
  Ctl(L"add-cert 1 " + Cert(L"sign.der"));
  Page page;
  ASSERT_TRUE(page.ready());
  for (size_t i = 0; i < attacks.size(); ++i) {
    SCOPED_TRACE(attacks[i].what);
    nphost::SetPageOrigin(vd::WideToUtf8(pages[i + 2]));
    vdtest::AttackOutcome outcome;
    std::thread user([&] { outcome = vdtest::AttackEraseDialog(attacks[i], 20000); });
    EXPECT_EQ(page.Call("InitKey", "ABCDEF123456"), "int 4099");
    user.join();
    EXPECT_TRUE(outcome.asked);
    EXPECT_TRUE(outcome.stillAsking);
    EXPECT_EQ(page.Call("GetAllCertCn"), "string \"Alice Signer\"");
  }
  nphost::SetPageOrigin("http://deliberate.example");
  bool clicked = false;
  std::thread user([&] { clicked = vdtest::ClickEraseAfter(1500, 20000); });
  EXPECT_EQ(page.Call("InitKey", "ABCDEF123456"), "int 0");
  user.join();
  EXPECT_TRUE(clicked);
  EXPECT_EQ(page.Call("GetAllCertCn"), "string \"\"");
  nphost::SetPageOrigin("http://127.0.0.1");
}

// While one page's question is open, another page's InitKey (arriving through the browser's message loop,
// which runs inside the question) is refused at once; after a cancel, the page that asked is refused at
// once for a while, and another page is still asked.
TEST_F(PluginTokenTest, OneQuestionAtATimeAndNoneRightAfterACancel) {
  ASSERT_TRUE(list_.SetList({L"http://first.example", L"http://other.example"}));
  Ctl(L"insert 1 --serial ABCDEF123456");
  nphost::SetPageOrigin("http://first.example");
  static Page* second = nullptr;
  static std::string secondAnswer;
  Page page, other;
  ASSERT_TRUE(page.ready() && other.ready());
  second = &other;
  secondAnswer.clear();
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    nphost::SetPageOrigin("http://other.example");
    secondAnswer = second->Call("InitKey", "ABCDEF123456");
    nphost::SetPageOrigin("http://first.example");
  });
  {
    vdtest::EraseDialogAnswerer user(false);
    EXPECT_EQ(page.Call("InitKey", "ABCDEF123456"), "int 4099");
    EXPECT_EQ(secondAnswer, "int 4099");
    EXPECT_EQ(page.Call("InitKey", "ABCDEF123456"), "int 4099");
    EXPECT_EQ(user.seen().size(), 1u) << "the second page and the cancelled page's retry were not asked";
  }
  ::KillTimer(nullptr, timer);
  nphost::SetPageOrigin("http://other.example");
  vdtest::EraseDialogAnswerer user(true);
  EXPECT_EQ(other.Call("InitKey", "ABCDEF123456"), "int 0");
  EXPECT_EQ(user.seen().size(), 1u);
  nphost::SetPageOrigin("http://127.0.0.1");
}

TEST_F(PluginTokenTest, RefusedInitialisationFailsSoftly) {
  Ctl(L"insert 1 --serial ABCDEF123456");
  Ctl(L"fail C_Initialize 0x6");
  Page page;
  ASSERT_TRUE(page.ready());
  EXPECT_EQ(page.Call("GetKeyCount"), "int 0");
  EXPECT_EQ(page.Call("GetUKeySN"), "string \"\"");
  EXPECT_EQ(page.Call("InitKey", "ABCDEF123456"), "int 4099");
  EXPECT_EQ(::GetModuleHandleA("LumoraCSP11Brindlemark.dll"), nullptr);  // released after the refusal
}

TEST_F(PluginTokenTest, ModuleAlreadyInitialisedInTheProcessIsAccepted) {
  Ctl(L"insert 1 --serial ABCDEF123456");
  HMODULE own = ::LoadLibraryA("LumoraCSP11Brindlemark.dll");
  ASSERT_NE(own, nullptr);
  auto getList = reinterpret_cast<CK_C_GetFunctionList>(
      reinterpret_cast<void*>(::GetProcAddress(own, "C_GetFunctionList")));
  CK_FUNCTION_LIST* f = nullptr;
  ASSERT_EQ(getList(&f), CKR_OK);
  ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
  {
    Page page;
    EXPECT_EQ(page.Call("GetKeyCount"), "int 1");
    EXPECT_EQ(page.Call("GetUKeySN"), "string \"ABCDEF123456    \"");
  }
  f->C_Finalize(nullptr);
  ::FreeLibrary(own);
}

TEST_F(PluginTokenTest, ModuleStaysLoadedUntilThePluginIsUnloaded) {
  Ctl(L"insert 1");
  nphost::PluginLibrary lib;
  std::string why;
  ASSERT_TRUE(lib.Load(PluginDll(), &why)) << why;
  EXPECT_EQ(::GetModuleHandleA("LumoraCSP11Brindlemark.dll"), nullptr);  // nothing before the first object
  {
    nphost::Instance inst(lib);
    ASSERT_EQ(inst.New(), NPERR_NO_ERROR);
    NPObject* obj = inst.ScriptableObject();
    ASSERT_NE(obj, nullptr);
    Browser().releaseobject(obj);
  }
  EXPECT_NE(::GetModuleHandleA("LumoraCSP11Brindlemark.dll"), nullptr);
  lib.Unload();
  EXPECT_EQ(::GetModuleHandleA("LumoraCSP11Brindlemark.dll"), nullptr);
}

}  // namespace
