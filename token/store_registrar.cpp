#include "store_registrar.h"

#include <algorithm>

#include "cert_facts.h"
#include "module_binding.h"
#include "text.h"

namespace vd {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The key-provider information of a MY entry, or nothing when it has none.
std::vector<BYTE> KeyProvInfo(PCCERT_CONTEXT cert) {
  DWORD size = 0;
  if (!::CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) ||
      size < sizeof(CRYPT_KEY_PROV_INFO))
    return {};
  std::vector<BYTE> data(size);
  if (!::CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, data.data(), &size) ||
      size < sizeof(CRYPT_KEY_PROV_INFO))
    return {};
  return data;
}

// Deletes every MY entry the predicate picks. The deletions wait until the enumeration is over: deleting
// inside the loop can make the enumeration return the same entry for ever.
template <typename Pred>
void DeleteMatching(HCERTSTORE store, Pred pick) {
  std::vector<PCCERT_CONTEXT> doomed;
  PCCERT_CONTEXT c = nullptr;
  while ((c = ::CertEnumCertificatesInStore(store, c)) != nullptr) {
    std::vector<BYTE> data = KeyProvInfo(c);
    if (data.empty()) continue;
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(data.data());
    if (!info->pwszContainerName || !info->pwszProvName) continue;
    if (pick(*info)) doomed.push_back(::CertDuplicateCertificateContext(c));
  }
  for (PCCERT_CONTEXT d : doomed) ::CertDeleteCertificateFromStore(d);  // frees d
}

std::vector<char> AnsiWithNul(const std::wstring& s) {
  std::string a = WideToAnsi(s);
  std::vector<char> v(a.begin(), a.end());
  v.push_back('\0');
  return v;
}

}  // namespace

HCERTSTORE OpenSystemStore(const wchar_t* name) {
  return ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, name);
}

void CommitAndClose(UniqueCertStore& store) {
  if (!store) return;
  ::CertControlStore(store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
  ::CertCloseStore(store.release(), CERT_CLOSE_STORE_CHECK_FLAG);
}

StoreBatch::~StoreBatch() {
  for (auto& [name, store] : stores_) CommitAndClose(store);
}

HCERTSTORE StoreBatch::Get(const wchar_t* name) {
  auto it = stores_.find(name);
  if (it != stores_.end()) return it->second.get();
  UniqueCertStore store(OpenSystemStore(name));
  if (!store) return nullptr;
  HCERTSTORE h = store.get();
  stores_.emplace(name, std::move(store));
  return h;
}

std::optional<std::wstring> StoreRegistrar::ContainerPath(CK_SLOT_ID slot, const TokenCertificate& cert) const {
  std::wstring description;
  for (const TokenRecord& t : tokens_)
    if (t.slot == slot) description = t.slotDescription;
  std::wstring path = L"\\\\.\\" + description + L"\\" + cert.container;
  if (path.size() >= MAX_PATH) return std::nullopt;
  return path;
}

bool StoreRegistrar::KeyIsOnToken(CK_SLOT_ID slot, const TokenCertificate& cert) {
  CK_FUNCTION_LIST* fl = module_.Functions();
  if (!TokenPresent(fl, slot)) return false;
  auto modulus = ExtractModulus(cert.value);
  if (!modulus || modulus->empty()) return false;
  std::vector<char> container = AnsiWithNul(cert.container);
  Pkcs11Session session;
  if (session.Open(fl, slot) != CKR_OK) return false;
  CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
  CK_ATTRIBUTE tmpl[] = {
      {CKA_CLASS, &cls, sizeof cls},
      {CKA_VENDOR_CONTAINER, container.data(), static_cast<CK_ULONG>(container.size())},
      {CKA_MODULUS, modulus->data(), static_cast<CK_ULONG>(modulus->size())},
  };
  if (fl->C_FindObjectsInit(session.get(), tmpl, 3) != CKR_OK) return false;
  CK_OBJECT_HANDLE key = 0;
  CK_ULONG count = 0;
  CK_RV rv = fl->C_FindObjects(session.get(), &key, 1, &count);
  fl->C_FindObjectsFinal(session.get());
  return rv == CKR_OK && count == 1;
}

CK_RV StoreRegistrar::FindKeySpec(CK_SLOT_ID slot, const std::vector<uint8_t>& id, const std::wstring& container,
                                  DWORD* keySpec) {
  CK_FUNCTION_LIST* fl = module_.Functions();
  if (!TokenPresent(fl, slot)) return CKR_DEVICE_REMOVED;
  Pkcs11Session session;
  CK_RV rv = session.Open(fl, slot);
  if (rv != CKR_OK) return rv;
  std::vector<char> name = AnsiWithNul(container);
  std::vector<uint8_t> idCopy = id;
  CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
  CK_KEY_TYPE type = CKK_RSA;
  CK_ATTRIBUTE tmpl[] = {
      {CKA_CLASS, &cls, sizeof cls},
      {CKA_KEY_TYPE, &type, sizeof type},
      {CKA_ID, idCopy.empty() ? nullptr : idCopy.data(), static_cast<CK_ULONG>(idCopy.size())},
      {CKA_VENDOR_CONTAINER, name.data(), static_cast<CK_ULONG>(name.size())},
  };
  rv = fl->C_FindObjectsInit(session.get(), tmpl, 4);
  if (rv != CKR_OK) return rv;
  CK_OBJECT_HANDLE key = 0;
  CK_ULONG count = 0;
  rv = fl->C_FindObjects(session.get(), &key, 1, &count);
  CK_RV finalRv = fl->C_FindObjectsFinal(session.get());
  if (rv == CKR_OK) rv = finalRv;
  if (rv != CKR_OK) return rv;
  if (count != 1) return CKR_TEMPLATE_INCONSISTENT;
  CK_BBOOL encrypt = CK_FALSE;
  CK_ATTRIBUTE attr = {CKA_ENCRYPT, &encrypt, sizeof encrypt};
  rv = fl->C_GetAttributeValue(session.get(), key, &attr, 1);
  if (rv != CKR_OK) return rv;
  if (attr.ulValueLen != sizeof encrypt) return CKR_ATTRIBUTE_VALUE_INVALID;
  *keySpec = encrypt ? AT_KEYEXCHANGE : AT_SIGNATURE;
  return session.Close();
}

bool StoreRegistrar::RegisterCertificate(CK_SLOT_ID slot, TokenCertificate& cert, StoreBatch* batch) {
  StoreBatch local;
  StoreBatch& stores = batch ? *batch : local;
  const wchar_t* storeName = L"MY";
  bool toMy = KeyIsOnToken(slot, cert);
  if (!toMy) {
    auto chosen = ChooseStoreByContents(cert.value);
    if (!chosen) return false;
    storeName = *chosen;
  }
  HCERTSTORE store = stores.Get(storeName);
  if (!store) return false;
  auto path = ContainerPath(slot, cert);
  if (!path) return false;

  DWORD keySpec = AT_KEYEXCHANGE;
  bool keyFound = FindKeySpec(slot, cert.id, cert.container, &keySpec) == CKR_OK;
  UniqueCertContext context = DecodeCertificate(cert.value);
  if (!context) return false;
  if (!keyFound) keySpec = KeySpecFromKeyUsage(context.get());
  cert.keySpec = keySpec;

  if (toMy) {
    std::wstring provider = cspName_;
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = path->data();
    info.pwszProvName = provider.data();
    info.dwProvType = PROV_RSA_FULL;
    info.dwFlags = CERT_SET_KEY_CONTEXT_PROP_ID;
    info.dwKeySpec = keySpec;
    if (!::CertSetCertificateContextProperty(context.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) return false;
    // Some stores replace an existing entry but keep its old properties when they save it; taking the old
    // entry out first makes the new key information the one that is stored.
    if (PCCERT_CONTEXT old = ::CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_EXISTING, context.get(),
                                                          nullptr))
      ::CertDeleteCertificateFromStore(old);  // frees old
    return ::CertAddCertificateContextToStore(store, context.get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr) !=
           FALSE;
  }
  return ::CertAddEncodedCertificateToStore(store, kEncoding, cert.value.data(),
                                            static_cast<DWORD>(cert.value.size()), CERT_STORE_ADD_USE_EXISTING,
                                            nullptr) != FALSE;
}

bool StoreRegistrar::UnregisterCertificate(CK_SLOT_ID slot, const TokenCertificate& cert, StoreBatch* batch) {
  auto path = ContainerPath(slot, cert);
  if (!path) return false;
  StoreBatch local;
  HCERTSTORE my = (batch ? *batch : local).Get(L"MY");
  if (!my) return false;
  const std::wstring& csp = cspName_;
  DeleteMatching(my, [&](const CRYPT_KEY_PROV_INFO& info) {
    return info.dwKeySpec == cert.keySpec && EqualsNoCase(info.pwszProvName, csp) &&
           EqualsNoCase(info.pwszContainerName, *path);
  });
  return true;
}

bool StoreRegistrar::RestoreCopies(const TokenCertificate& cert, StoreBatch* batch) {
  bool all = true;
  for (TokenRecord& t : tokens_) {
    if (t.slot == cert.slot) continue;
    // Equal values only: a longer certificate that merely starts with these bytes is another certificate.
    for (TokenCertificate& other : t.certificates)
      if (other.value == cert.value && !RegisterCertificate(t.slot, other, batch)) all = false;
  }
  return all;
}

void StoreRegistrar::RegisterTokenCertificates(CK_SLOT_ID slot) {
  auto it = std::find_if(tokens_.begin(), tokens_.end(), [&](const TokenRecord& t) { return t.slot == slot; });
  if (it == tokens_.end()) return;
  StoreBatch batch;
  for (TokenCertificate& cert : it->certificates) {
    RegisterCertificate(slot, cert, &batch);
    cert.registered = true;
  }
}

void StoreRegistrar::UnregisterTokenCertificates(CK_SLOT_ID slot, bool emptyList) {
  auto it = std::find_if(tokens_.begin(), tokens_.end(), [&](const TokenRecord& t) { return t.slot == slot; });
  if (it == tokens_.end()) return;
  StoreBatch batch;
  for (TokenCertificate& cert : it->certificates) {
    UnregisterCertificate(slot, cert, &batch);
    cert.registered = false;
    RestoreCopies(cert, &batch);
  }
  if (emptyList) it->certificates.clear();
}

bool StoreRegistrar::PurgeRegistrations() {
  UniqueCertStore my(OpenSystemStore(L"MY"));
  if (!my) return false;
  const std::wstring& csp = cspName_;
  DeleteMatching(my.get(), [&](const CRYPT_KEY_PROV_INFO& info) { return EqualsNoCase(info.pwszProvName, csp); });
  CommitAndClose(my);
  return true;
}

}  // namespace vd
