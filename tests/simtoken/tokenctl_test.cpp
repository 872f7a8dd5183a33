// tokenctl's refusals (exit 2, a message, nothing changed), damaged state files and injected faults.
#include "module_fixture.h"

#include <functional>
#include <future>
#include <set>

namespace simtest {
namespace {


class TokenctlTest : public ::testing::Test {
 protected:
  vdtest::ScopedSimTokenDir dir;
};

TEST_F(TokenctlTest, BadArgumentsExitTwoWithAMessageAndChangeNothing) {
  Ctl(L"insert 1 --label Before");
  Ctl(L"add-cert 1 " + CertArg(L"sign.der"));
  Ctl(L"fail C_GetInfo 0x30");
  std::vector<uint8_t> slotBefore = vdtest::ReadFileBytes(dir.path() + L"\\slot01.tok");
  std::vector<uint8_t> faultsBefore = vdtest::ReadFileBytes(dir.path() + L"\\faults.txt");
  std::wstring missing = L"\"" + dir.path() + L"\\no-such.der\"";
  std::wstring empty = dir.path() + L"\\empty.der";
  ASSERT_TRUE(vdtest::WriteFileBytes(empty, "", 0));
  const std::wstring rows[] = {
      L"",
      L"frobnicate",
      L"insert",
      L"insert 0",
      L"insert 13",
      L"insert x",
      L"insert 1 2",
      L"insert 1 --label",
      L"insert 1 --label 123456789012345678901234567890123",
      L"insert 1 --serial 12345678901234567",
      L"insert 1 --min-pin 9 --max-pin 8",
      L"insert 1 --min-pin 0",
      L"insert 1 --tries -1",
      L"insert 1 --colour red",
      L"insert 1 --label A --label B",
      L"remove 2",
      L"remove",
      L"add-cert 1",
      L"add-cert 1 " + missing,
      L"add-cert 1 \"" + empty + L"\"",
      L"add-cert 1 " + CertArg(L"garbage.der"),
      L"add-cert 1 " + CertArg(L"sign.der") + L" --key both",
      L"add-cert 1 " + CertArg(L"sign.der") + L" --id ABC",
      L"add-cert 1 " + CertArg(L"sign.der") + L" --id XY",
      L"add-cert 2 " + CertArg(L"sign.der"),
      L"delete 1 999",
      L"delete 1",
      L"event 1",
      L"event 1 two",
      L"event 1 2 3 4",
      L"event 1 1 0x100000000",
      L"set 2 --label X",
      L"set 1 --pin-to-be-changed maybe",
      L"set 1 --initialized",
      L"list extra",
      L"reset now",
      L"fail",
      L"fail C_NoSuchThing 5",
      L"fail C_GetInfo banana",
      L"fail C_GetInfo 5 --times 0",
      L"fail --clear C_GetInfo",
      L"watch --count 0",
  };
  for (const std::wstring& args : rows) {
    vdtest::ProcessResult r = vdtest::RunTool(L"tokenctl.exe", args);
    std::string shown(args.begin(), args.end());
    EXPECT_EQ(r.exitCode, 2u) << shown;
    EXPECT_FALSE(r.err.empty()) << shown;
  }
  EXPECT_EQ(vdtest::ReadFileBytes(dir.path() + L"\\slot01.tok"), slotBefore);
  EXPECT_EQ(vdtest::ReadFileBytes(dir.path() + L"\\faults.txt"), faultsBefore);
  EXPECT_EQ(::GetFileAttributesW((dir.path() + L"\\slot02.tok").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(TokenctlTest, ListShowsTokensAndObjects) {
  Ctl(L"insert 2 --label Alpha --serial SN-2");
  Ctl(L"insert 11 --serial SN-11 --pin-to-be-changed");
  std::vector<CK_OBJECT_HANDLE> h = Handles(Ctl(L"add-cert 2 " + CertArg(L"enc.der") + L" --container box1 --id 01FF"));
  ASSERT_EQ(h.size(), 2u);
  Ctl(L"remove 11");
  std::string out = Ctl(L"list");
  std::string expected = "slot 2 present label=\"Alpha\" serial=\"SN-2\" flags=0x" +
                         ([] {
                           char b[16];
                           snprintf(b, sizeof b, "%lx", static_cast<unsigned long>(CKF_TOKEN_INITIALIZED |
                                                                                    CKF_USER_PIN_INITIALIZED));
                           return std::string(b);
                         })() +
                         "\n  handle=" + std::to_string(h[0]) +
                         " class=certificate id=01FF container=\"box1\" label=\"Bob Encipher\"\n  handle=" +
                         std::to_string(h[1]) + " class=private-key id=01FF container=\"box1\" label=\"\"\n";
  EXPECT_EQ(out.substr(0, expected.size()), expected) << out;
  EXPECT_NE(out.find("slot 11 absent label=\"Opalix Token\" serial=\"SN-11\""), std::string::npos) << out;
  Ctl(L"reset");
  EXPECT_EQ(Ctl(L"list"), "");
}

TEST_F(TokenctlTest, DamagedTokenFilesAreSkipped) {
  Ctl(L"insert 1");
  Ctl(L"insert 2");
  Ctl(L"insert 3");
  Ctl(L"add-cert 1 " + CertArg(L"sign.der"));
  std::vector<uint8_t> good = vdtest::ReadFileBytes(dir.path() + L"\\slot01.tok");
  ASSERT_GT(good.size(), 100u);
  // Truncated, one byte changed in the middle, and garbage of the same size.
  std::vector<uint8_t> flipped = good;
  flipped[good.size() / 2] ^= 0x5A;
  std::vector<uint8_t> garbage(good.size(), 0xCC);
  ASSERT_TRUE(vdtest::WriteFileBytes(dir.path() + L"\\slot01.tok", good.data(), good.size() / 3));
  ASSERT_TRUE(vdtest::WriteFileBytes(dir.path() + L"\\slot02.tok", flipped.data(), flipped.size()));
  ASSERT_TRUE(vdtest::WriteFileBytes(dir.path() + L"\\slot03.tok", garbage.data(), garbage.size()));
  Ctl(L"insert 4");

  LoadedModule m;
  ASSERT_TRUE(m.f);
  ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
  CK_SLOT_ID slots[12];
  CK_ULONG n = 12;
  ASSERT_EQ(m.f->C_GetSlotList(CK_TRUE, slots, &n), CKR_OK);
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(slots[0], 4u);
  CK_TOKEN_INFO t;
  for (CK_SLOT_ID s : {1, 2, 3}) EXPECT_EQ(m.f->C_GetTokenInfo(s, &t), CKR_TOKEN_NOT_PRESENT) << s;
  EXPECT_EQ(m.f->C_Finalize(nullptr), CKR_OK);

  std::string list = Ctl(L"list");
  EXPECT_NE(list.find("slot 1 damaged\nslot 2 damaged\nslot 3 damaged\nslot 4 present"), std::string::npos) << list;
  vdtest::ProcessResult r = vdtest::RunTool(L"tokenctl.exe", L"remove 2");
  EXPECT_EQ(r.exitCode, 2u);
  // insert replaces a damaged token with a fresh one.
  Ctl(L"insert 2");
  EXPECT_NE(Ctl(L"list").find("slot 2 present"), std::string::npos);
}

// A running program meets a rule at its next call, as it would meet a flaky device; adding a second rule
// leaves the first one's counts as they were.
TEST_F(TokenctlTest, InjectedFaultsReachARunningProcessAtItsNextCall) {
  Ctl(L"insert 1");
  Ctl(L"add-cert 1 " + CertArg(L"sign.der"));
  LoadedModule m;
  ASSERT_TRUE(m.f);
  ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
  CK_SESSION_HANDLE s = 0;
  ASSERT_EQ(m.f->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_OK);
  ASSERT_EQ(m.f->C_FindObjectsInit(s, nullptr, 0), CKR_OK);
  CK_OBJECT_HANDLE h;
  CK_ULONG n;
  CK_TOKEN_INFO t;
  Ctl(L"fail C_FindObjects CKR_DEVICE_ERROR --after 1 --times 2");
  EXPECT_EQ(m.f->C_FindObjects(s, &h, 1, &n), CKR_OK);
  Ctl(L"fail C_GetTokenInfo 0x32");
  const CK_RV expected[] = {CKR_DEVICE_ERROR, CKR_DEVICE_ERROR, CKR_OK};
  for (CK_RV rv : expected) EXPECT_EQ(m.f->C_FindObjects(s, &h, 1, &n), rv);
  EXPECT_EQ(m.f->C_GetTokenInfo(1, &t), 0x32u);
  EXPECT_EQ(m.f->C_GetTokenInfo(1, &t), 0x32u) << "without --times: every call";
  Ctl(L"fail --clear");
  EXPECT_EQ(m.f->C_GetTokenInfo(1, &t), CKR_OK) << "a cleared rule is gone at the next call";
  ASSERT_EQ(m.f->C_Finalize(nullptr), CKR_OK);

  Ctl(L"fail C_Initialize CKR_TOKEN_NOT_RECOGNIZED --times 1");
  EXPECT_EQ(m.f->C_Initialize(nullptr), CKR_TOKEN_NOT_RECOGNIZED);
  EXPECT_EQ(m.f->C_GetInfo(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED) << "a failed C_Initialize leaves nothing up";
  ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK) << "--times 1 lets the next attempt succeed";
  EXPECT_EQ(m.f->C_GetTokenInfo(1, &t), CKR_OK);
  EXPECT_EQ(m.f->C_Finalize(nullptr), CKR_OK);
}

// Each name tokenctl accepts must be one the module checks, or a rule would silently never fire.
TEST_F(TokenctlTest, EveryFaultableFunctionCanBeMadeToFail) {
  Ctl(L"insert 1");
  std::vector<CK_OBJECT_HANDLE> h = Handles(Ctl(L"add-cert 1 " + CertArg(L"sign.der")));
  ASSERT_EQ(h.size(), 2u);
  LoadedModule m;
  ASSERT_TRUE(m.f && m.aux);
  CK_FUNCTION_LIST* f = m.f;
  AuxFunctionList* aux = m.aux;
  const CK_RV kInjected = 0x1234;
  auto open = [f] {
    CK_SESSION_HANDLE s = 0;
    f->C_OpenSession(1, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s);
    return s;
  };
  CK_UTF8CHAR pin[] = "246802";
  CK_UTF8CHAR label[32] = {'L'};
  CK_BYTE out4[4];
  CK_ULONG n = 0, code = 0, data = 0;
  CK_SLOT_ID slot = 0;
  CK_OBJECT_HANDLE found = 0;
  CK_INFO info;
  CK_SLOT_INFO slotInfo;
  CK_TOKEN_INFO tokenInfo;
  CK_SESSION_INFO sessionInfo;
  TokenInitParams params{};
  params.label = "x";
  params.userPin = "246802";
  struct Row {
    const wchar_t* name;
    std::function<CK_RV()> call;  // the module is initialised; the call under test comes last
  } rows[] = {
      {L"C_Finalize", [&] { return f->C_Finalize(nullptr); }},
      {L"C_GetInfo", [&] { return f->C_GetInfo(&info); }},
      {L"C_GetSlotList", [&] { return f->C_GetSlotList(CK_TRUE, nullptr, &n); }},
      {L"C_GetSlotInfo", [&] { return f->C_GetSlotInfo(1, &slotInfo); }},
      {L"C_GetTokenInfo", [&] { return f->C_GetTokenInfo(1, &tokenInfo); }},
      {L"C_OpenSession", [&] { return f->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &found); }},
      {L"C_CloseSession", [&] { return f->C_CloseSession(open()); }},
      {L"C_CloseAllSessions", [&] { return f->C_CloseAllSessions(1); }},
      {L"C_GetSessionInfo", [&] { return f->C_GetSessionInfo(open(), &sessionInfo); }},
      {L"C_SetPIN", [&] { return f->C_SetPIN(open(), pin, 6, pin, 6); }},
      {L"C_DestroyObject", [&] { return f->C_DestroyObject(open(), h[1]); }},
      {L"C_GetAttributeValue",
       [&] {
         CK_ATTRIBUTE a{CKA_ID, nullptr, 0};
         return f->C_GetAttributeValue(open(), h[0], &a, 1);
       }},
      {L"C_FindObjectsInit", [&] { return f->C_FindObjectsInit(open(), nullptr, 0); }},
      {L"C_FindObjects",
       [&] {
         CK_SESSION_HANDLE s = open();
         f->C_FindObjectsInit(s, nullptr, 0);
         return f->C_FindObjects(s, &found, 1, &n);
       }},
      {L"C_FindObjectsFinal",
       [&] {
         CK_SESSION_HANDLE s = open();
         f->C_FindObjectsInit(s, nullptr, 0);
         return f->C_FindObjectsFinal(s);
       }},
      {L"E_InitToken", [&] { return aux->initToken(1, &params); }},
      {L"E_SetLabel", [&] { return aux->setLabel(1, 0, 0, 0, label); }},
      {L"E_GetPinInfo", [&] { return aux->getPinInfo(1, out4); }},
      {L"E_WaitForEvent", [&] { return aux->waitForEvent(CKF_DONT_BLOCK, &slot, &code, &data, nullptr); }},
  };
  for (const Row& r : rows) {
    Ctl(std::wstring(L"fail ") + r.name + L" 0x1234 --times 1");
    ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(r.call(), kInjected) << std::string(r.name, r.name + wcslen(r.name));
    f->C_Finalize(nullptr);
    f->C_Finalize(nullptr);  // the first may have been the injected failure
    Ctl(L"fail --clear");
  }
  Ctl(L"fail C_Initialize 0x1234 --times 1");
  EXPECT_EQ(f->C_Initialize(nullptr), kInjected);
  EXPECT_EQ(f->C_Initialize(nullptr), CKR_OK);
  EXPECT_EQ(f->C_Finalize(nullptr), CKR_OK);
}

TEST_F(TokenctlTest, SetChangesFlagsAndTries) {
  Ctl(L"insert 5");
  Ctl(L"set 5 --pin-to-be-changed on --initialized off --tries 2");
  LoadedModule m;
  ASSERT_TRUE(m.f);
  ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
  CK_TOKEN_INFO t;
  ASSERT_EQ(m.f->C_GetTokenInfo(5, &t), CKR_OK);
  EXPECT_TRUE(t.flags & CKF_USER_PIN_TO_BE_CHANGED);
  EXPECT_FALSE(t.flags & CKF_TOKEN_INITIALIZED);
  CK_BYTE tries[4];
  ASSERT_EQ(m.aux->getPinInfo(5, tries), CKR_OK);
  EXPECT_EQ(tries[3], 2);
  Ctl(L"set 5 --pin-to-be-changed off --initialized on");
  ASSERT_EQ(m.f->C_GetTokenInfo(5, &t), CKR_OK);
  EXPECT_FALSE(t.flags & CKF_USER_PIN_TO_BE_CHANGED);
  EXPECT_TRUE(t.flags & CKF_TOKEN_INITIALIZED);
  EXPECT_EQ(m.f->C_Finalize(nullptr), CKR_OK);
}

TEST_F(TokenctlTest, MissingParentFoldersOfTheStateFolderAreCreated) {
  std::wstring nested = dir.path() + L"\\a\\b\\state";
  ::SetEnvironmentVariableW(L"SIMTOKEN_DIR", nested.c_str());  // the fixture restores the old value
  Ctl(L"insert 2");
  EXPECT_NE(::GetFileAttributesW((nested + L"\\slot02.tok").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(TokenctlTest, ConcurrentWritersLoseNoUpdate) {
  Ctl(L"insert 1");
  const wchar_t* certs[] = {L"sign.der", L"enc.der", L"root.der", L"inter.der", L"nokey.der", L"expired.der"};
  std::vector<std::future<vdtest::ProcessResult>> runs;
  for (const wchar_t* c : certs)
    runs.push_back(std::async(std::launch::async, [c] {
      return vdtest::RunTool(L"tokenctl.exe", L"add-cert 1 " + CertArg(c) + L" --key none");
    }));
  std::set<CK_OBJECT_HANDLE> handles;
  for (auto& r : runs) {
    vdtest::ProcessResult done = r.get();
    EXPECT_EQ(done.exitCode, 0u) << done.err;
    for (CK_OBJECT_HANDLE h : Handles(done.out)) handles.insert(h);
  }
  EXPECT_EQ(handles.size(), std::size(certs));
  std::string list = Ctl(L"list");
  for (CK_OBJECT_HANDLE h : handles)
    EXPECT_NE(list.find("handle=" + std::to_string(h) + " "), std::string::npos) << list;
}

}  // namespace
}  // namespace simtest
