// Registration of token certificates in the user's stores, checked from a second process.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "module_binding.h"
#include "store_registrar.h"
#include "text.h"
#include "token_manager.h"
#include "token_test_util.h"

namespace {

using tokentest::AddCert;
using tokentest::CertArg;
using tokentest::EntriesOf;
using tokentest::ReadStores;
using tokentest::StoreEntry;
using tokentest::Tokenctl;

const std::string kCsp = vd::WideToUtf8(vd::kProduct.cspName);

std::string SlotPath(int slot, const std::string& container) {
  return "\\\\.\\Simulated Token Slot " + std::to_string(slot) + "\\" + container;
}

class Registration : public tokentest::TokenStoreTest {};

TEST_F(Registration, EachKindOfCertificateGoesToItsStore) {
  Tokenctl(L"insert 1");
  for (const wchar_t* ca : {L"root.der", L"inter.der", L"ku_ca.der", L"nokey.der"})
    AddCert(L"1 " + CertArg(ca) + L" --key none");
  AddCert(L"1 " + CertArg(L"enc.der") + L" --container EncBox --id 0E");
  AddCert(L"1 " + CertArg(L"sign.der") + L" --container SignBox --id 05 --key sign");
  {
    vd::TokenManager manager;
    ASSERT_EQ(manager.Load(), CKR_OK);

    auto all = ReadStores();
    struct Row {
      const wchar_t* cert;
      const char* store;
      std::string provider, container, keySpec;
    } rows[] = {
        {L"root.der", "ROOT", "-", "-", "-"},
        {L"inter.der", "CA", "-", "-", "-"},
        {L"ku_ca.der", "CA", "-", "-", "-"},
        {L"nokey.der", "ADDRESSBOOK", "-", "-", "-"},
        {L"enc.der", "MY", kCsp, SlotPath(1, "EncBox"), "1"},
        {L"sign.der", "MY", kCsp, SlotPath(1, "SignBox"), "2"},
    };
    for (const Row& r : rows) {
      auto entries = EntriesOf(all, r.cert);
      ASSERT_EQ(entries.size(), 1u) << vd::WideToUtf8(r.cert);
      EXPECT_EQ(entries[0].store, r.store) << vd::WideToUtf8(r.cert);
      EXPECT_EQ(entries[0].provider, r.provider) << vd::WideToUtf8(r.cert);
      EXPECT_EQ(entries[0].container, r.container) << vd::WideToUtf8(r.cert);
      EXPECT_EQ(entries[0].keySpec, r.keySpec) << vd::WideToUtf8(r.cert);
    }

    auto token = manager.FindToken(1);
    ASSERT_TRUE(token.has_value());
    EXPECT_EQ(token->slotDescription, L"Simulated Token Slot 1");
    EXPECT_EQ(token->label, L"Opalix Token");
    ASSERT_EQ(token->certificates.size(), 6u);
    const vd::TokenCertificate& enc = token->certificates[4];
    EXPECT_EQ(enc.displayName, L"Bob Encipher's Opalix Issuing CA ID");
    EXPECT_EQ(enc.container, L"EncBox");
    EXPECT_EQ(enc.id, std::vector<uint8_t>{0x0E});
    EXPECT_EQ(enc.keySpec, static_cast<DWORD>(AT_KEYEXCHANGE));
    for (const auto& c : token->certificates) EXPECT_TRUE(c.registered);

    Tokenctl(L"remove 1");
    manager.OnTokenRemoved(1);
    EXPECT_FALSE(manager.HasToken(1));
  }
  // Removal takes the MY entries only; the certificates of the other stores stay for good.
  auto all = ReadStores();
  EXPECT_TRUE(EntriesOf(all, L"enc.der").empty());
  EXPECT_TRUE(EntriesOf(all, L"sign.der").empty());
  for (const wchar_t* kept : {L"root.der", L"inter.der", L"ku_ca.der", L"nokey.der"})
    EXPECT_EQ(EntriesOf(all, kept).size(), 1u) << vd::WideToUtf8(kept);
}

TEST_F(Registration, KeySpecFromKeyOrFromKeyUsage) {
  Tokenctl(L"insert 1");
  // shared_a and shared_b share one key pair. The key on the token carries shared_b's id, so shared_a
  // belongs in MY (its key is there) but its key spec cannot come from a key found by id: its signing usage.
  AddCert(L"1 " + CertArg(L"shared_a.der") + L" --container Shared --id 01 --key none");
  AddCert(L"1 " + CertArg(L"shared_b.der") + L" --container Shared --id 02 --key encrypt");
  // A signing certificate whose key may encrypt: the key's CKA_ENCRYPT wins over the usage.
  AddCert(L"1 " + CertArg(L"sign.der") + L" --container Both --id 03 --key encrypt");
  // No key at all: the usage decides, and the certificate is only an address-book entry.
  AddCert(L"1 " + CertArg(L"expiring.der") + L" --container Gone --id 04 --key none");
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  auto all = ReadStores();
  struct Row {
    const wchar_t* cert;
    const char* store;
    const char* keySpec;
  } rows[] = {
      {L"shared_a.der", "MY", "2"},
      {L"shared_b.der", "MY", "1"},
      {L"sign.der", "MY", "1"},
      {L"expiring.der", "ADDRESSBOOK", "-"},
  };
  for (const Row& r : rows) {
    auto entries = EntriesOf(all, r.cert);
    ASSERT_EQ(entries.size(), 1u) << vd::WideToUtf8(r.cert);
    EXPECT_EQ(entries[0].store, r.store) << vd::WideToUtf8(r.cert);
    EXPECT_EQ(entries[0].keySpec, r.keySpec) << vd::WideToUtf8(r.cert);
  }
  auto token = manager.FindToken(1);
  ASSERT_TRUE(token.has_value());
  ASSERT_EQ(token->certificates.size(), 4u);
  EXPECT_EQ(token->certificates[3].keySpec, static_cast<DWORD>(AT_SIGNATURE));
}

// The token's keys are read once per operation and matched in memory; each row is a way that match could
// differ from the module's own search, or a read that fails partway.
TEST_F(Registration, KeysReadOnceAnswerAsTheSearchesDid) {
  struct Expect {
    const wchar_t* cert;
    const char* store;
    std::string container;  // "-" outside MY
    const char* keySpec;
  };
  struct Row {
    const char* name;
    std::vector<std::wstring> adds;  // tokenctl add-cert arguments after the slot
    std::wstring fault;              // tokenctl fail arguments, or empty
    size_t listed;                   // certificates the token list ends up with
    std::vector<Expect> entries;     // every store entry of these certificates, in store order
    // For a read that did not complete: the entries once the token was read again, whole.
    std::vector<Expect> afterReread = {};
  } rows[] = {
      {"a key with the right modulus under another container",
       {CertArg(L"enc.der") + L" --container Mine --id 0A", CertArg(L"enc.der") + L" --container Other --id 0B --key none"},
       L"", 2,
       {{L"enc.der", "ADDRESSBOOK", "-", "-"}, {L"enc.der", "MY", SlotPath(1, "Mine"), "1"}}},
      {"a key missing for one certificate of several",
       {CertArg(L"enc.der") + L" --container E --id 01", CertArg(L"expiring.der") + L" --container X --id 02 --key none",
        CertArg(L"sign.der") + L" --container S --id 03 --key sign"},
       L"", 3,
       {{L"enc.der", "MY", SlotPath(1, "E"), "1"}, {L"expiring.der", "ADDRESSBOOK", "-", "-"},
        {L"sign.der", "MY", SlotPath(1, "S"), "2"}}},
      // The token's objects are read in one pass, certificates and keys alike (here: enc.der's certificate,
      // its key, sign.der's certificate, its key, root.der's certificate). A pass that fails keeps the
      // certificates read before the failure but files none of them: without the keys, a certificate of
      // the user's would go to ADDRESSBOOK for good. The next read, whole, files them where they belong.
      {"an object read failing partway",
       {CertArg(L"enc.der") + L" --container E --id 01", CertArg(L"sign.der") + L" --container S --id 03 --key sign",
        CertArg(L"root.der") + L" --key none"},
       L"C_GetAttributeValue 0x30 --after 4 --times 1", 2, {},
       {{L"enc.der", "MY", SlotPath(1, "E"), "1"}, {L"sign.der", "MY", SlotPath(1, "S"), "2"},
        {L"root.der", "ROOT", "-", "-"}}},
      {"the search failing after its first answer",
       {CertArg(L"enc.der") + L" --container E --id 01", CertArg(L"sign.der") + L" --container S --id 03 --key sign"},
       L"C_FindObjects 0x30 --after 1 --times 1", 2, {},
       {{L"enc.der", "MY", SlotPath(1, "E"), "1"}, {L"sign.der", "MY", SlotPath(1, "S"), "2"}}},
  };
  auto storeLines = [](const std::vector<Expect>& expected) {
    auto all = ReadStores();
    std::vector<std::string> got, want;
    for (const wchar_t* name : {L"enc.der", L"expiring.der", L"sign.der", L"root.der"}) {
      for (const StoreEntry& e : EntriesOf(all, name))
        got.push_back(vd::WideToUtf8(name) + " " + e.store + " " + e.container + " " + e.keySpec);
    }
    for (const Expect& e : expected)
      want.push_back(vd::WideToUtf8(e.cert) + " " + e.store + " " + e.container + " " + e.keySpec);
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    return std::make_pair(got, want);
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    tokentest::RemoveTestCertsFromStores();
    Tokenctl(L"reset");
    Tokenctl(L"insert 1");
    for (const std::wstring& a : r.adds) AddCert(L"1 " + a);
    if (!r.fault.empty()) Tokenctl(L"fail " + r.fault);
    vd::TokenManager manager;
    ASSERT_EQ(manager.Load(), CKR_OK);
    Tokenctl(L"fail --clear");
    auto token = manager.FindToken(1);
    ASSERT_TRUE(token.has_value());
    EXPECT_EQ(token->certificates.size(), r.listed);
    EXPECT_EQ(token->readWhole, r.afterReread.empty());
    for (const auto& c : token->certificates) EXPECT_EQ(c.registered, token->readWhole);
    auto [got, want] = storeLines(r.entries);
    EXPECT_EQ(got, want);
    if (r.afterReread.empty()) continue;
    // As the window reads a token again after a failed read.
    EXPECT_EQ(manager.OnTokenInserted(1), vd::TokenManager::InsertOutcome::kListed);
    auto [gotAfter, wantAfter] = storeLines(r.afterReread);
    EXPECT_EQ(gotAfter, wantAfter);
  }
}

TEST_F(Registration, SameCertificateTwiceReplacesMyKeepsOthers) {
  Tokenctl(L"insert 1");
  AddCert(L"1 " + CertArg(L"enc.der") + L" --container EncBox");
  AddCert(L"1 " + CertArg(L"root.der") + L" --key none");
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);

  // Spoil the MY entry's key information and mark the ROOT entry, then register everything again. (A
  // property set on an entry in place is not saved by every store; delete and add instead.)
  auto rewrite = [](const wchar_t* storeName, const wchar_t* certName, DWORD propId, const void* data) {
    vd::UniqueCertStore store(vd::OpenSystemStore(storeName));
    vd::UniqueCertContext entry = tokentest::FindInStore(store.get(), certName);
    ASSERT_TRUE(entry);
    ASSERT_TRUE(::CertDeleteCertificateFromStore(entry.release()));
    auto der = vdtest::ReadFileBytes(vdtest::TestCert(certName));
    vd::UniqueCertContext c(::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), (DWORD)der.size()));
    ASSERT_TRUE(::CertSetCertificateContextProperty(c.get(), propId, 0, data));
    ASSERT_TRUE(::CertAddCertificateContextToStore(store.get(), c.get(), CERT_STORE_ADD_NEW, nullptr));
    vd::CommitAndClose(store);
  };
  std::wstring container = L"stale", provider = vd::kProduct.cspName;
  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = container.data();
  info.pwszProvName = provider.data();
  info.dwProvType = PROV_RSA_FULL;
  info.dwKeySpec = AT_SIGNATURE;
  rewrite(L"MY", L"enc.der", CERT_KEY_PROV_INFO_PROP_ID, &info);
  const std::wstring marker = L"kept by the store";
  CRYPT_DATA_BLOB name{static_cast<DWORD>((marker.size() + 1) * sizeof(wchar_t)),
                       reinterpret_cast<BYTE*>(const_cast<wchar_t*>(marker.c_str()))};
  rewrite(L"ROOT", L"root.der", CERT_FRIENDLY_NAME_PROP_ID, &name);
  ASSERT_EQ(EntriesOf(ReadStores(), L"enc.der")[0].container, "stale");

  ASSERT_EQ(manager.EnumerateTokens(false), CKR_OK);
  auto all = ReadStores();
  auto enc = EntriesOf(all, L"enc.der");
  ASSERT_EQ(enc.size(), 1u);
  EXPECT_EQ(enc[0].container, SlotPath(1, "EncBox"));
  EXPECT_EQ(enc[0].keySpec, "1");
  ASSERT_EQ(EntriesOf(all, L"root.der").size(), 1u);

  vd::UniqueCertStore root(vd::OpenSystemStore(L"ROOT"));
  vd::UniqueCertContext found = tokentest::FindInStore(root.get(), L"root.der");
  ASSERT_TRUE(found);
  wchar_t friendly[64] = {};
  DWORD size = sizeof friendly;
  ASSERT_TRUE(::CertGetCertificateContextProperty(found.get(), CERT_FRIENDLY_NAME_PROP_ID, friendly, &size));
  EXPECT_EQ(std::wstring(friendly), marker);
}

TEST_F(Registration, TwoTokensWithOneCertificateKeepItUntilTheLastGoes) {
  for (int firstOut : {1, 2}) {
    SCOPED_TRACE(firstOut);
    int secondOut = 3 - firstOut;
    Tokenctl(L"reset");
    Tokenctl(L"insert 1");
    Tokenctl(L"insert 2");
    AddCert(L"1 " + CertArg(L"enc.der") + L" --container BoxOne");
    AddCert(L"2 " + CertArg(L"enc.der") + L" --container BoxTwo");
    vd::TokenManager manager;
    ASSERT_EQ(manager.Load(), CKR_OK);
    auto enc = EntriesOf(ReadStores(), L"enc.der");
    ASSERT_EQ(enc.size(), 1u);  // one MY entry; the token read last named its container
    EXPECT_EQ(enc[0].container, SlotPath(2, "BoxTwo"));

    Tokenctl(L"remove " + std::to_wstring(firstOut));
    manager.OnTokenRemoved(firstOut);
    enc = EntriesOf(ReadStores(), L"enc.der");
    ASSERT_EQ(enc.size(), 1u);
    EXPECT_EQ(enc[0].container, SlotPath(secondOut, secondOut == 1 ? "BoxOne" : "BoxTwo"));

    Tokenctl(L"remove " + std::to_wstring(secondOut));
    manager.OnTokenRemoved(secondOut);
    EXPECT_TRUE(EntriesOf(ReadStores(), L"enc.der").empty());
    EXPECT_FALSE(manager.HasAnyToken());
  }
}

TEST_F(Registration, ContainerPathMustStayBelow260Characters) {
  // "\\.\" + "Simulated Token Slot 1" + "\" takes 27 characters.
  const std::wstring fits(259 - 27, L'F'), tooLong(260 - 27, L'T');
  Tokenctl(L"insert 1");
  AddCert(L"1 " + CertArg(L"enc.der") + L" --container " + tooLong);
  AddCert(L"1 " + CertArg(L"sign.der") + L" --container " + fits + L" --key sign");
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  auto all = ReadStores();
  EXPECT_TRUE(EntriesOf(all, L"enc.der").empty());  // in no store at all
  auto sign = EntriesOf(all, L"sign.der");
  ASSERT_EQ(sign.size(), 1u);
  EXPECT_EQ(sign[0].container.size(), 259u);
  auto token = manager.FindToken(1);
  ASSERT_TRUE(token.has_value());
  EXPECT_EQ(token->certificates.size(), 2u);  // still listed
}

TEST_F(Registration, OtherProvidersEntriesSurvive) {
  // An entry of another provider that names the same container, and one of ours in other letter case.
  auto addToMy = [](const wchar_t* cert, const std::wstring& provider, const std::wstring& container) {
    vd::UniqueCertStore my(vd::OpenSystemStore(L"MY"));
    auto der = vdtest::ReadFileBytes(vdtest::TestCert(cert));
    vd::UniqueCertContext c(::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), (DWORD)der.size()));
    ASSERT_TRUE(c);
    std::wstring p = provider, k = container;
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = k.data();
    info.pwszProvName = p.data();
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    ASSERT_TRUE(::CertSetCertificateContextProperty(c.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    ASSERT_TRUE(::CertAddCertificateContextToStore(my.get(), c.get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    vd::CommitAndClose(my);
  };
  const std::wstring path = vd::Utf8ToWide(SlotPath(1, "EncBox"));
  addToMy(L"nokey.der", L"Another Vendor CSP", path);
  std::wstring ours = vd::kProduct.cspName;
  for (auto& ch : ours) ch = towlower(ch);
  addToMy(L"expired.der", ours, L"\\\\.\\Old Reader\\Leftover");

  Tokenctl(L"insert 1");
  AddCert(L"1 " + CertArg(L"enc.der") + L" --container EncBox");
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);  // purges ours, whatever the letter case
  auto all = ReadStores();
  EXPECT_TRUE(EntriesOf(all, L"expired.der").empty());
  ASSERT_EQ(EntriesOf(all, L"nokey.der").size(), 1u);

  Tokenctl(L"remove 1");
  manager.OnTokenRemoved(1);
  EXPECT_TRUE(manager.PurgeRegistrations());
  all = ReadStores();
  EXPECT_TRUE(EntriesOf(all, L"enc.der").empty());
  auto other = EntriesOf(all, L"nokey.der");
  ASSERT_EQ(other.size(), 1u);
  EXPECT_EQ(other[0].provider, "Another Vendor CSP");
}

TEST_F(Registration, EntriesOfAKilledProcessGoAtTheNextLoad) {
  Tokenctl(L"insert 1");
  AddCert(L"1 " + CertArg(L"enc.der") + L" --container EncBox");
  std::wstring cmd = L"\"" + vdtest::BinDir() + L"token_probe.exe\" hold";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &si, &pi));
  bool registered = false;
  for (int i = 0; i < 200 && !registered; ++i) {
    ::Sleep(100);
    registered = EntriesOf(ReadStores(), L"enc.der").size() == 1;
  }
  ::TerminateProcess(pi.hProcess, 9);
  ::WaitForSingleObject(pi.hProcess, 10000);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  ASSERT_TRUE(registered);
  ASSERT_EQ(EntriesOf(ReadStores(), L"enc.der").size(), 1u);  // the killed process left it behind

  Tokenctl(L"remove 1");
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  EXPECT_FALSE(manager.HasAnyToken());
  EXPECT_TRUE(EntriesOf(ReadStores(), L"enc.der").empty());
}

// A process killed while it registers a big token (the module made slow, so that the kill lands inside
// the registration): the next start purges what it left, the stores read back whole from another process,
// and the token is registered whole again.
TEST_F(Registration, KilledWhileRegistering100CertificatesLeavesNothingStale) {
  Tokenctl(L"insert 1");
  for (int i = 1; i <= 100; ++i) {
    wchar_t name[32];
    swprintf(name, 32, L"bulk\\bulk%03d.der", i);
    AddCert(L"1 " + CertArg(name) + L" --container Box" + std::to_wstring(i) + L" --id " + std::to_wstring(1000 + i));
  }
  const std::string csp = vd::WideToUtf8(vd::kProduct.cspName);
  auto ours = [&](const std::vector<StoreEntry>& all) {
    size_t n = 0;
    for (const auto& e : all)
      if (e.store == "MY" && e.provider == csp) ++n;
    return n;
  };
  for (DWORD killAfterMs : {1500u, 3000u}) {
    SCOPED_TRACE(killAfterMs);
    Tokenctl(L"latency 10");  // about 2 s for the whole registration
    std::wstring cmd = L"\"" + vdtest::BinDir() + L"token_probe.exe\" hold";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                 &si, &pi));
    ::Sleep(killAfterMs);
    ::TerminateProcess(pi.hProcess, 9);
    ::WaitForSingleObject(pi.hProcess, 10000);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    Tokenctl(L"latency 0");

    Tokenctl(L"remove 1");
    {
      vd::TokenManager manager;
      ASSERT_EQ(manager.Load(), CKR_OK);
      EXPECT_EQ(ours(ReadStores()), 0u) << "the start purged what the killed process left";
    }
    Tokenctl(L"insert 1");
    {
      vd::TokenManager manager;
      ASSERT_EQ(manager.Load(), CKR_OK);
      auto all = ReadStores();  // another process reads every store through
      EXPECT_EQ(ours(all), 100u);
      manager.OnTokenRemoved(1);
      EXPECT_EQ(ours(ReadStores()), 0u);
    }
  }
}

}  // namespace

namespace {

// Two tokens at once: the pull of one removes its own entries and leaves the other's alone, whether their
// slots' descriptions only begin alike (slots 1 and 10) or are the same (two readers of one kind). The other
// token's entry is not even taken out and put back: its registration is never tried again.
TEST_F(Registration, APullPurgesOnlyItsOwnTokensEntries) {
  struct Row {
    const char* name;
    CK_SLOT_ID pulled, kept;
    const wchar_t* sharedDescription;  // null: the module's own
  } rows[] = {{"slots 1 and 10", 1, 10, nullptr}, {"two slots of one description", 2, 3, L"Card Reader"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    tokentest::RemoveTestCertsFromStores();
    Tokenctl(L"reset");
    const std::wstring pulled = std::to_wstring(r.pulled), kept = std::to_wstring(r.kept);
    Tokenctl(L"insert " + pulled);
    Tokenctl(L"insert " + kept);
    AddCert(pulled + L" " + CertArg(L"enc.der") + L" --container Pulled");
    AddCert(kept + L" " + CertArg(L"sign.der") + L" --container Kept --key sign");
    vd::ModuleBinding module;
    ASSERT_EQ(module.Bind(vd::kProduct.moduleFile), CKR_OK);
    ASSERT_EQ(module.Functions()->C_Initialize(nullptr), CKR_OK);
    std::vector<vd::TokenRecord> tokens;
    for (auto [slot, cert, container] : {std::tuple{r.pulled, L"enc.der", L"Pulled"}, {r.kept, L"sign.der", L"Kept"}}) {
      vd::TokenRecord t;
      t.slot = slot;
      t.slotDescription =
          r.sharedDescription ? r.sharedDescription : L"Simulated Token Slot " + std::to_wstring(slot);
      vd::TokenCertificate c;
      c.slot = slot;
      c.value = vdtest::ReadFileBytes(vdtest::TestCert(cert));
      c.container = container;
      t.certificates.push_back(c);
      tokens.push_back(t);
    }
    std::wstring csp = vd::kProduct.cspName;
    vd::StoreRegistrar registrar(module, csp, tokens);
    registrar.RegisterTokenCertificates(r.pulled);
    registrar.RegisterTokenCertificates(r.kept);
    tokens[1].certificates[0].keySpec = 0;  // a registration tried again would set it
    registrar.UnregisterTokenCertificates(r.pulled, true);
    EXPECT_TRUE(registrar.PurgeSlot(r.pulled, tokens[0].slotDescription));
    auto all = ReadStores();
    EXPECT_TRUE(EntriesOf(all, L"enc.der").empty());
    const auto keptEntries = EntriesOf(all, L"sign.der");
    ASSERT_EQ(keptEntries.size(), 1u);
    EXPECT_EQ(keptEntries[0].store, "MY");
    EXPECT_EQ(keptEntries[0].container, "\\\\.\\" + vd::WideToUtf8(tokens[1].slotDescription) + "\\Kept");
    EXPECT_EQ(tokens[1].certificates[0].keySpec, 0u) << "the other token's entry was taken out and put back";
    module.Functions()->C_Finalize(nullptr);
  }
}

TEST_F(Registration, RestoreCopiesTakesEqualValuesOnly) {
  // Four tokens without keys: copies go by contents (root.der to ROOT). A registration attempt shows in
  // the key spec it writes back.
  for (int slot = 1; slot <= 4; ++slot) Tokenctl(L"insert " + std::to_wstring(slot));
  vd::ModuleBinding module;
  ASSERT_EQ(module.Bind(vd::kProduct.moduleFile), CKR_OK);
  ASSERT_EQ(module.Functions()->C_Initialize(nullptr), CKR_OK);
  std::wstring csp = vd::kProduct.cspName;
  std::vector<vd::TokenRecord> tokens;
  std::vector<uint8_t> root = vdtest::ReadFileBytes(vdtest::TestCert(L"root.der"));
  auto longer = root;
  longer.insert(longer.end(), 16, 0xAB);
  auto shorter = root;
  shorter.resize(root.size() / 2);
  const std::vector<uint8_t> values[] = {root, longer, shorter, root};
  for (CK_SLOT_ID slot = 1; slot <= 4; ++slot) {
    vd::TokenRecord t;
    t.slot = slot;
    t.slotDescription = L"Slot " + std::to_wstring(slot);
    vd::TokenCertificate c;
    c.slot = slot;
    c.value = values[slot - 1];
    t.certificates.push_back(c);
    tokens.push_back(t);
  }
  vd::StoreRegistrar registrar(module, csp, tokens);
  EXPECT_TRUE(registrar.RestoreCopies(tokens[0].certificates[0]));
  EXPECT_EQ(tokens[0].certificates[0].keySpec, 0u);  // itself: not a copy of itself
  EXPECT_EQ(tokens[1].certificates[0].keySpec, 0u);  // longer, same first bytes
  EXPECT_EQ(tokens[2].certificates[0].keySpec, 0u);  // shorter: never read past its end
  EXPECT_NE(tokens[3].certificates[0].keySpec, 0u);  // the equal one
  EXPECT_EQ(EntriesOf(ReadStores(), L"root.der").size(), 1u);
  module.Functions()->C_Finalize(nullptr);
}

}  // namespace

namespace {

std::wstring FriendlyName(HCERTSTORE store, PCCERT_CONTEXT like) {
  vd::UniqueCertContext found(
      ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, like, nullptr));
  if (!found) return L"(gone)";
  wchar_t name[64] = {};
  DWORD size = sizeof name;
  if (!::CertGetCertificateContextProperty(found.get(), CERT_FRIENDLY_NAME_PROP_ID, name, &size)) return L"";
  return name;
}

vd::UniqueCertContext Named(const std::vector<uint8_t>& der, const std::wstring& name) {
  vd::UniqueCertContext c(::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), (DWORD)der.size()));
  CRYPT_DATA_BLOB blob{static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)),
                       reinterpret_cast<BYTE*>(const_cast<wchar_t*>(name.c_str()))};
  ::CertSetCertificateContextProperty(c.get(), CERT_FRIENDLY_NAME_PROP_ID, 0, &blob);
  return c;
}

TEST(ReplaceInStore, AFailingAddLeavesTheEarlierEntryAsItWas) {
  auto der = vdtest::ReadFileBytes(vdtest::TestCert(L"enc.der"));
  vd::UniqueCertStore store(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  ASSERT_TRUE(store);
  auto old = Named(der, L"earlier");
  ASSERT_TRUE(::CertAddCertificateContextToStore(store.get(), old.get(), CERT_STORE_ADD_NEW, nullptr));

  auto fresh = Named(der, L"new");
  auto failingAdd = [](HCERTSTORE, PCCERT_CONTEXT) { return false; };
  EXPECT_FALSE(vd::ReplaceInStore(store.get(), fresh.get(), failingAdd));
  EXPECT_EQ(FriendlyName(store.get(), fresh.get()), L"earlier");

  EXPECT_TRUE(vd::ReplaceInStore(store.get(), fresh.get()));
  EXPECT_EQ(FriendlyName(store.get(), fresh.get()), L"new");

  // Nothing there before: a failing add adds nothing; a good one adds.
  vd::UniqueCertStore empty(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  EXPECT_FALSE(vd::ReplaceInStore(empty.get(), fresh.get(), failingAdd));
  EXPECT_EQ(FriendlyName(empty.get(), fresh.get()), L"(gone)");
  EXPECT_TRUE(vd::ReplaceInStore(empty.get(), fresh.get()));
  EXPECT_EQ(FriendlyName(empty.get(), fresh.get()), L"new");
}

}  // namespace
