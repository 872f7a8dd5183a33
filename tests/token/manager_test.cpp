// The token list and the event handlers against the simulated token, with its faults injected.
#include <gtest/gtest.h>

#include "expiry.h"
#include "registry.h"
#include "text.h"
#include "token_manager.h"
#include "call_counts.h"
#include "token_test_util.h"

namespace {

using tokentest::AddCert;
using tokentest::AddCertHandles;
using tokentest::CertArg;
using tokentest::EntriesOf;
using tokentest::ReadStores;
using tokentest::Tokenctl;

class Manager : public tokentest::TokenStoreTest {};

TEST_F(Manager, UninitialisedTokenIsListedButRegisteredOnlyByEnumeration) {
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  EXPECT_FALSE(manager.HasAnyToken());
  Tokenctl(L"insert 1 --uninitialized");
  AddCert(L"1 " + CertArg(L"enc.der") + L" --container EncBox");
  manager.OnTokenInserted(1);
  ASSERT_TRUE(manager.HasToken(1));
  auto token = manager.FindToken(1);
  ASSERT_EQ(token->certificates.size(), 1u);
  EXPECT_FALSE(token->certificates[0].registered);
  EXPECT_TRUE(EntriesOf(ReadStores(), L"enc.der").empty());

  manager.OnTokenInserted(1);  // a second insertion event for a listed slot changes nothing
  EXPECT_EQ(manager.Tokens().size(), 1u);

  ASSERT_EQ(manager.EnumerateTokens(false), CKR_OK);
  EXPECT_EQ(EntriesOf(ReadStores(), L"enc.der").size(), 1u);
  EXPECT_TRUE(manager.FindToken(1)->certificates[0].registered);
}

TEST_F(Manager, InsertedTokenIsReadAndRegistered) {
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  Tokenctl(L"insert 4 --label Sparkasse");
  AddCert(L"4 " + CertArg(L"enc.der") + L" --container EncBox");
  AddCert(L"4 " + CertArg(L"garbage.der") + L" --raw --key none --label \"Not a cert\"");
  manager.OnTokenInserted(4);
  auto token = manager.FindToken(4);
  ASSERT_TRUE(token.has_value());
  EXPECT_EQ(token->label, L"Sparkasse");
  ASSERT_EQ(token->certificates.size(), 2u);
  EXPECT_TRUE(token->certificates[0].registered);
  EXPECT_EQ(token->certificates[1].displayName, L"Not a cert");  // undecodable: named by its label
  auto enc = EntriesOf(ReadStores(), L"enc.der");
  ASSERT_EQ(enc.size(), 1u);
  EXPECT_EQ(enc[0].store, "MY");
}

TEST_F(Manager, SearchFailingPartwayKeepsWhatWasRead) {
  Tokenctl(L"insert 1");
  for (const wchar_t* c : {L"root.der", L"inter.der", L"nokey.der"}) AddCert(L"1 " + CertArg(c) + L" --key none");
  // The third certificate's read fails (the search hands back many handles per call, so it is the reads
  // that come one per certificate).
  Tokenctl(L"fail C_GetAttributeValue 0x30 --after 2 --times 1");
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  auto token = manager.FindToken(1);
  ASSERT_TRUE(token.has_value());
  ASSERT_EQ(token->certificates.size(), 2u);
  EXPECT_EQ(token->certificates[0].displayName, L"Opalix Test Root CA's Opalix Test Root CA ID");
  EXPECT_EQ(token->certificates[1].displayName, L"Opalix Issuing CA's Opalix Test Root CA ID");
}

TEST_F(Manager, TokenWhoseSessionCannotOpenIsNotListed) {
  Tokenctl(L"insert 1");
  Tokenctl(L"insert 2");
  AddCert(L"1 " + CertArg(L"enc.der") + L" --container EncBox");
  // The first session (slot 1) fails; slot 2 opens normally.
  Tokenctl(L"fail C_OpenSession 0xB1 --times 1");
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  EXPECT_FALSE(manager.HasToken(1));
  EXPECT_TRUE(manager.HasToken(2));
  EXPECT_TRUE(EntriesOf(ReadStores(), L"enc.der").empty());
}

TEST_F(Manager, EventsForUnknownSlotsAndObjectsDoNothing) {
  Tokenctl(L"insert 1");
  unsigned long cert = AddCert(L"1 " + CertArg(L"enc.der") + L" --container EncBox");
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  manager.OnTokenRemoved(7);
  manager.OnObjectCreated(7, cert);
  manager.OnObjectDestroyed(7, cert);
  manager.OnObjectDestroyed(1, cert + 1000);
  EXPECT_EQ(manager.RefreshLabel(7), static_cast<CK_RV>(CKR_ARGUMENTS_BAD));
  EXPECT_FALSE(manager.IsPinChangeRequired(7));
  auto tokens = manager.Tokens();
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_EQ(tokens[0].certificates.size(), 1u);
  EXPECT_EQ(EntriesOf(ReadStores(), L"enc.der").size(), 1u);
}

TEST_F(Manager, ObjectEventsAddAndRemoveCertificates) {
  Tokenctl(L"insert 1");
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  auto handles = AddCertHandles(L"1 " + CertArg(L"enc.der") + L" --container EncBox");
  ASSERT_EQ(handles.size(), 2u);
  manager.OnObjectCreated(1, handles[1]);  // the private key: not a certificate
  EXPECT_TRUE(manager.FindToken(1)->certificates.empty());
  manager.OnObjectCreated(1, handles[0]);
  manager.OnObjectCreated(1, handles[0]);  // an event for an object already read
  auto token = manager.FindToken(1);
  ASSERT_EQ(token->certificates.size(), 1u);
  EXPECT_EQ(token->certificates[0].handle, handles[0]);
  EXPECT_EQ(EntriesOf(ReadStores(), L"enc.der").size(), 1u);

  Tokenctl(L"delete 1 " + std::to_wstring(handles[0]));
  manager.OnObjectDestroyed(1, handles[0]);
  EXPECT_TRUE(manager.FindToken(1)->certificates.empty());
  EXPECT_TRUE(EntriesOf(ReadStores(), L"enc.der").empty());
}

TEST_F(Manager, LabelAndPinChangeFlagFollowTheToken) {
  Tokenctl(L"insert 3");
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  EXPECT_FALSE(manager.IsPinChangeRequired(3));
  Tokenctl(L"set 3 --label \"Renamed Key\" --pin-to-be-changed on");
  EXPECT_EQ(manager.FindToken(3)->label, L"Opalix Token");
  EXPECT_EQ(manager.RefreshLabel(3), static_cast<CK_RV>(CKR_OK));
  EXPECT_EQ(manager.FindToken(3)->label, L"Renamed Key");
  EXPECT_TRUE(manager.IsPinChangeRequired(3));
}

// Saves a registry value and puts it back (or deletes it) when the test ends.
class SavedValue {
 public:
  SavedValue(HKEY root, std::wstring key, std::wstring name) : root_(root), key_(std::move(key)), name_(std::move(name)) {
    data_ = vd::RegReadBytes(root_, key_.c_str(), name_.c_str(), &type_);
  }
  ~SavedValue() {
    if (data_) {
      vd::RegWriteBytes(root_, key_.c_str(), name_.c_str(), type_, data_->data(), static_cast<DWORD>(data_->size()));
    } else {
      HKEY k;
      if (::RegOpenKeyExW(root_, key_.c_str(), 0, KEY_SET_VALUE, &k) == ERROR_SUCCESS) {
        ::RegDeleteValueW(k, name_.c_str());
        ::RegCloseKey(k);
      }
    }
  }

 private:
  HKEY root_;
  std::wstring key_, name_;
  std::optional<std::vector<BYTE>> data_;
  DWORD type_ = REG_SZ;
};

TEST(HomePage, PopFlagReadsTheFirstByte) {
  SavedValue saved(HKEY_LOCAL_MACHINE, vd::kProduct.installKey, L"PopFlag");
  // The flag is written into the installer's key, never into one of its own.
  vd::UniqueRegKey key;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, vd::kProduct.installKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              key.put(), nullptr),
            ERROR_SUCCESS);
  ASSERT_TRUE(vd::TokenManager::SetHomePageEnabled(true));
  auto raw = vd::RegReadBytes(HKEY_LOCAL_MACHINE, vd::kProduct.installKey, L"PopFlag");
  ASSERT_TRUE(raw.has_value());
  EXPECT_EQ(*raw, std::vector<BYTE>{'1'});  // one byte, no terminator
  EXPECT_TRUE(vd::TokenManager::IsHomePageEnabled());
  ASSERT_TRUE(vd::TokenManager::SetHomePageEnabled(false));
  EXPECT_FALSE(vd::TokenManager::IsHomePageEnabled());

  struct Row {
    std::vector<BYTE> data;
    bool enabled;
  } rows[] = {
      {{'1', 0, 0, 0}, true},  // "1" written as UTF-16 by another program
      {{'0', 0, 0, 0}, false},
      {{}, false},
      {{'2'}, false},
  };
  for (const Row& r : rows) {
    ASSERT_TRUE(vd::RegWriteBytes(HKEY_LOCAL_MACHINE, vd::kProduct.installKey, L"PopFlag", REG_SZ, r.data.data(),
                                  static_cast<DWORD>(r.data.size())));
    EXPECT_EQ(vd::TokenManager::IsHomePageEnabled(), r.enabled) << r.data.size();
  }
}

TEST_F(Manager, HomePageOpensWithTheConfiguredAddress) {
  SavedValue popFlag(HKEY_LOCAL_MACHINE, vd::kProduct.installKey, L"PopFlag");
  SavedValue address(HKEY_LOCAL_MACHINE, vd::kProduct.installKey, L"http Address");
  const wchar_t* kVersionKey = L"Software\\Microsoft\\Windows\\CurrentVersion";
  SavedValue programs(HKEY_LOCAL_MACHINE, kVersionKey, L"ProgramFilesDir");

  vdtest::TempDir folder(L"progfiles");
  std::wstring browserDir = folder.path() + L"\\Internet Explorer";
  ASSERT_TRUE(::CreateDirectoryW(browserDir.c_str(), nullptr));
  ASSERT_TRUE(::CopyFileW((vdtest::BinDir() + L"fake_browser.exe").c_str(), (browserDir + L"\\IEXPLORE.EXE").c_str(),
                          FALSE));
  ASSERT_TRUE(vd::RegWriteString(HKEY_LOCAL_MACHINE, kVersionKey, L"ProgramFilesDir", folder.path()));
  ASSERT_TRUE(vd::RegWriteString(HKEY_LOCAL_MACHINE, vd::kProduct.installKey, L"http Address",
                                 L"https://bank.example/welcome"));
  // PopFlag as another program writes it: UTF-16 with its terminator.
  ASSERT_TRUE(vd::RegWriteString(HKEY_LOCAL_MACHINE, vd::kProduct.installKey, L"PopFlag", L"1"));

  const std::wstring record = browserDir + L"\\cmdline.txt";
  auto waitForRecord = [&](DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited += 50) {
      auto bytes = vdtest::ReadFileBytes(record);
      if (bytes.empty()) {
        ::Sleep(50);
        continue;
      }
      // The loader may quote the program's path when it passes the command line on; the text is the same.
      std::wstring line(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
      std::erase(line, L'"');
      return line;
    }
    return std::wstring();
  };

  Tokenctl(L"insert 1");
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  EXPECT_EQ(waitForRecord(15000), browserDir + L"\\IEXPLORE.EXE https://bank.example/welcome");

  ::DeleteFileW(record.c_str());
  ASSERT_EQ(manager.EnumerateTokens(false), CKR_OK);  // the second reading at start-up opens nothing
  Tokenctl(L"insert 2");
  vd::TokenManager::SetHomePageEnabled(false);
  manager.OnTokenInserted(2);
  EXPECT_EQ(waitForRecord(1500), L"");
  vd::TokenManager::SetHomePageEnabled(true);
  manager.LaunchHomePage(9);  // not a listed slot
  EXPECT_EQ(waitForRecord(1500), L"");
}

}  // namespace

namespace {

std::vector<int> g_warnedDays;

bool RecordWarning(int days) {
  g_warnedDays.push_back(days);
  return false;  // box not ticked: every certificate due gets its warning
}

TEST_F(Manager, InsertionWarnsAboutExpiringCertificatesInListOrder) {
  vd::ResetExpiryWarnings();
  g_warnedDays.clear();
  Tokenctl(L"insert 2");
  for (const wchar_t* c : {L"expired.der", L"enc.der", L"expiring.der"}) AddCert(L"2 " + CertArg(c) + L" --key none");
  vd::TokenManager manager;
  manager.SetExpiryPrompt(&RecordWarning);
  ASSERT_EQ(manager.Load(), CKR_OK);
  EXPECT_TRUE(g_warnedDays.empty());  // taking stock at start-up warns about nothing

  Tokenctl(L"remove 2");
  manager.OnTokenRemoved(2);
  Tokenctl(L"insert 2");
  manager.OnTokenInserted(2);
  ASSERT_EQ(g_warnedDays.size(), 2u);
  EXPECT_LT(g_warnedDays[0], 0);  // expired.der first, as the token lists it
  EXPECT_GT(g_warnedDays[1], 0);  // then expiring.der; enc.der is not due
  EXPECT_LE(g_warnedDays[1], 11);
}

}  // namespace

namespace {

// MY entries of ours (the CSP name) whose container path names the slot.
size_t OurEntriesOnSlot(int slot) {
  const std::string csp = vd::WideToUtf8(vd::kProduct.cspName);
  const std::string prefix = "\\\\.\\Simulated Token Slot " + std::to_string(slot) + "\\";
  size_t n = 0;
  for (const auto& e : ReadStores())
    if (e.store == "MY" && e.provider == csp && e.container.rfind(prefix, 0) == 0) ++n;
  return n;
}

// The window takes stock of the tokens a second time after the manager's own start; a fault of the module
// during that second read must not leave a registration behind once the token goes.
TEST_F(Manager, FaultDuringTheSecondEnumerationLeavesNothingAfterThePull) {
  struct Row {
    const char* function;
    int times;
  } rows[] = {
      {"C_FindObjectsInit", 3}, {"C_GetSlotInfo", 1}, {"C_OpenSession", 1}, {"C_GetAttributeValue", 1},
      {"C_CloseSession", 1},    {"C_FindObjects", 2}, {"C_GetTokenInfo", 1}, {"C_GetSlotList", 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.function);
    Tokenctl(L"reset");
    Tokenctl(L"insert 1");
    AddCert(L"1 " + CertArg(L"enc.der") + L" --container EncBox");
    AddCert(L"1 " + CertArg(L"root.der") + L" --key none");
    // Rules count from the module's initialisation: the fault is placed right after the start-up's own
    // calls, so that it hits the second enumeration.
    const uint32_t atStart = tokentest::CallsDuringLoad(r.function);
    ASSERT_NE(atStart, vdtest::CallCounts::kUnknownFunction);
    Tokenctl(L"fail " + vd::Utf8ToWide(r.function) + L" 0x30 --after " + std::to_wstring(atStart) + L" --times " +
             std::to_wstring(r.times));
    vd::TokenManager manager;
    ASSERT_EQ(manager.Load(), CKR_OK);
    ASSERT_EQ(OurEntriesOnSlot(1), 1u);
    manager.EnumerateTokens(false);
    EXPECT_EQ(OurEntriesOnSlot(1), 1u) << "a failed re-read forgets nothing";
    Tokenctl(L"remove 1");
    manager.OnTokenRemoved(1);
    EXPECT_EQ(OurEntriesOnSlot(1), 0u);
    // And the next insertion registers as usual, read again as the window does while the fault lasts.
    Tokenctl(L"insert 1");
    for (int attempt = 0; attempt < 4; ++attempt)
      if (manager.OnTokenInserted(1, attempt == 3) != vd::TokenManager::InsertOutcome::kReadFailed) break;
    EXPECT_EQ(OurEntriesOnSlot(1), 1u);
    Tokenctl(L"remove 1");
    manager.OnTokenRemoved(1);
    EXPECT_EQ(OurEntriesOnSlot(1), 0u);
    Tokenctl(L"fail --clear");
  }
}

TEST_F(Manager, PullRemovesEntriesOfTheSlotTheListDoesNotKnow) {
  Tokenctl(L"insert 1");
  Tokenctl(L"insert 2");
  AddCert(L"2 " + CertArg(L"sign.der") + L" --container KeepMe --key sign");
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  // An entry of ours for slot 1 that the list never read (left by a read that failed, say).
  auto der = vdtest::ReadFileBytes(vdtest::TestCert(L"enc.der"));
  vd::UniqueCertContext c(::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), (DWORD)der.size()));
  std::wstring container = L"\\\\.\\Simulated Token Slot 1\\Orphan", provider = vd::kProduct.cspName;
  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = container.data();
  info.pwszProvName = provider.data();
  info.dwProvType = PROV_RSA_FULL;
  info.dwKeySpec = AT_KEYEXCHANGE;
  ASSERT_TRUE(::CertSetCertificateContextProperty(c.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  {
    vd::UniqueCertStore my(vd::OpenSystemStore(L"MY"));
    ASSERT_TRUE(::CertAddCertificateContextToStore(my.get(), c.get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    vd::CommitAndClose(my);
  }
  ASSERT_EQ(OurEntriesOnSlot(1), 1u);
  Tokenctl(L"remove 1");
  manager.OnTokenRemoved(1);
  EXPECT_EQ(OurEntriesOnSlot(1), 0u);
  EXPECT_EQ(OurEntriesOnSlot(2), 1u) << "another slot's entries stay";
}

}  // namespace

namespace {

TEST_F(Manager, InsertionWhoseReadFailsIsNotListedUntilReadWhole) {
  Tokenctl(L"insert 1");
  AddCert(L"1 " + CertArg(L"enc.der") + L" --container EncBox");
  Tokenctl(L"remove 1");
  {
    // Rules apply from the module's initialisation on; the start-up reads no token, so the insertion's
    // read is the first search.
    Tokenctl(L"fail C_FindObjectsInit 0x30 --times 1");
    vd::TokenManager manager;
    ASSERT_EQ(manager.Load(), CKR_OK);
    Tokenctl(L"insert 1");
    EXPECT_EQ(manager.OnTokenInserted(1), vd::TokenManager::InsertOutcome::kReadFailed);
    EXPECT_FALSE(manager.HasToken(1)) << "no token shown without its certificates";
    EXPECT_EQ(OurEntriesOnSlot(1), 0u);
    EXPECT_EQ(manager.OnTokenInserted(1), vd::TokenManager::InsertOutcome::kListed);
    ASSERT_TRUE(manager.HasToken(1));
    EXPECT_EQ(manager.FindToken(1)->certificates.size(), 1u);
    EXPECT_EQ(OurEntriesOnSlot(1), 1u);
    Tokenctl(L"remove 1");
    manager.OnTokenRemoved(1);
    EXPECT_EQ(manager.OnTokenInserted(1), vd::TokenManager::InsertOutcome::kNotTaken) << "slot empty";
  }
  {
    // The last attempt lists what it could read, files nothing, and asks to be read again; the next read
    // that gets everything files the certificate.
    vd::TokenManager manager;
    ASSERT_EQ(manager.Load(), CKR_OK);
    Tokenctl(L"insert 1");
    EXPECT_EQ(manager.OnTokenInserted(1, true), vd::TokenManager::InsertOutcome::kListedPartly);
    EXPECT_TRUE(manager.HasToken(1));
    EXPECT_TRUE(manager.FindToken(1)->certificates.empty());
    EXPECT_EQ(OurEntriesOnSlot(1), 0u);
    EXPECT_EQ(manager.OnTokenInserted(1), vd::TokenManager::InsertOutcome::kListed);
    EXPECT_EQ(manager.FindToken(1)->certificates.size(), 1u);
    EXPECT_EQ(OurEntriesOnSlot(1), 1u);
    Tokenctl(L"fail --clear");
  }
}

}  // namespace

namespace {

// A generic module's habits at start-up, each through tokenctl: the user's certificate still reaches MY,
// with the container its key names.
TEST_F(Manager, GenericModuleHabitsAtStartStillFileTheCertificate) {
  struct Row {
    const char* what;
    const wchar_t* certOptions;
    const wchar_t* rule;
    int failedLoads;  // Load calls that fail before one succeeds
  } rows[] = {
      {"C_Initialize fails at logon", L"", L"fail C_Initialize CKR_DEVICE_ERROR --times 2", 2},
      {"a token arrives between count and list", L"", L"fail C_GetSlotList CKR_BUFFER_TOO_SMALL --after 1 --times 1",
       0},
      {"the certificate lacks the container attribute", L" --no-container", L"fail --clear", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Tokenctl(L"reset");
    Tokenctl(L"insert 1");
    AddCert(L"1 " + CertArg(L"sign.der") + r.certOptions);
    Tokenctl(r.rule);
    vd::TokenManager manager;
    int failed = 0;
    while (manager.Load() != CKR_OK && failed < 5) ++failed;
    EXPECT_EQ(failed, r.failedLoads);
    ASSERT_TRUE(manager.HasToken(1));
    EXPECT_TRUE(manager.FindToken(1)->readWhole);
    const auto sign = EntriesOf(ReadStores(), L"sign.der");
    ASSERT_EQ(sign.size(), 1u);
    EXPECT_EQ(sign[0].store, "MY");
    EXPECT_NE(sign[0].container.find("\\cnt-"), std::string::npos) << sign[0].container;
    Tokenctl(L"fail --clear");
  }
}

// Another user of the module in this process initialised it first: that counts as initialised, and ending
// our use leaves theirs alone.
TEST_F(Manager, ModuleInitialisedByAnotherUserIsSharedNotFinalised) {
  Tokenctl(L"insert 1");
  AddCert(L"1 " + CertArg(L"enc.der") + L" --container EncBox");
  vd::UniqueModule own(::LoadLibraryW(L"LumoraCSP11Brindlemark.dll"));
  ASSERT_TRUE(own);
  auto getList = reinterpret_cast<CK_C_GetFunctionList>(
      reinterpret_cast<void*>(::GetProcAddress(own.get(), "C_GetFunctionList")));
  CK_FUNCTION_LIST* fl = nullptr;
  ASSERT_EQ(getList(&fl), CKR_OK);
  ASSERT_EQ(fl->C_Initialize(nullptr), CKR_OK);
  {
    vd::TokenManager manager;
    ASSERT_EQ(manager.Load(), CKR_OK);
    EXPECT_TRUE(manager.HasToken(1));
    EXPECT_EQ(EntriesOf(ReadStores(), L"enc.der").size(), 1u);
    EXPECT_EQ(manager.Unload(), CKR_OK);
  }
  CK_INFO info;
  EXPECT_EQ(fl->C_GetInfo(&info), CKR_OK) << "our Unload finalised the other user's module";
  EXPECT_EQ(fl->C_Finalize(nullptr), CKR_OK);
}

// What an event missed is made good by the next read: an object event that met a failing call marks the
// token for a read again, and a whole re-read takes out a certificate deleted meanwhile.
TEST_F(Manager, ChangesAnEventMissedAreMadeGoodByTheNextRead) {
  Tokenctl(L"insert 1");
  const unsigned long enc = AddCert(L"1 " + CertArg(L"enc.der") + L" --container EncBox");
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  Tokenctl(L"fail C_GetAttributeValue CKR_DEVICE_ERROR --times 1");
  const unsigned long sign = AddCert(L"1 " + CertArg(L"sign.der"));
  EXPECT_FALSE(manager.OnObjectCreated(1, sign));
  EXPECT_FALSE(manager.FindToken(1)->readWhole);
  EXPECT_EQ(manager.OnTokenInserted(1), vd::TokenManager::InsertOutcome::kListed);
  EXPECT_EQ(EntriesOf(ReadStores(), L"sign.der").size(), 1u);

  Tokenctl(L"delete 1 " + std::to_wstring(enc));  // its event never reaches the manager
  ASSERT_EQ(manager.EnumerateTokens(false), CKR_OK);
  EXPECT_TRUE(EntriesOf(ReadStores(), L"enc.der").empty());
  EXPECT_EQ(EntriesOf(ReadStores(), L"sign.der").size(), 1u);
  EXPECT_EQ(manager.FindToken(1)->certificates.size(), 1u);
}

}  // namespace
