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

// Deletes every MY entry the predicate picks; `deleted` (when given) receives their encoded values. The
// deletions wait until the enumeration is over: deleting inside the loop can make the enumeration return
// the same entry for ever.
template <typename Pred>
void DeleteMatching(HCERTSTORE store, Pred pick, std::vector<std::vector<uint8_t>>* deleted = nullptr) {
  std::vector<PCCERT_CONTEXT> doomed;
  PCCERT_CONTEXT c = nullptr;
  while ((c = ::CertEnumCertificatesInStore(store, c)) != nullptr) {
    std::vector<BYTE> data = KeyProvInfo(c);
    if (data.empty()) continue;
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(data.data());
    if (!info->pwszContainerName || !info->pwszProvName) continue;
    if (pick(*info)) doomed.push_back(::CertDuplicateCertificateContext(c));
  }
  for (PCCERT_CONTEXT d : doomed) {
    if (deleted) deleted->emplace_back(d->pbCertEncoded, d->pbCertEncoded + d->cbCertEncoded);
    ::CertDeleteCertificateFromStore(d);  // frees d
  }
}

}  // namespace

// Puts `cert` (with its properties) in place of an equal entry. Some stores replace an entry but keep its
// old properties when they save it, and a property set on a stored entry is not saved by every store
// either, so the old entry is taken out and the new one added; the old one is kept aside, whole, and put
// back when the add fails, so that a failing add never loses an earlier registration.
bool ReplaceInStore(HCERTSTORE store, PCCERT_CONTEXT cert, const StoreAdd& add) {
  std::vector<BYTE> saved;
  if (PCCERT_CONTEXT old = ::CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_EXISTING, cert, nullptr)) {
    DWORD size = 0;
    if (::CertSerializeCertificateStoreElement(old, 0, nullptr, &size) && size > 0) {
      saved.resize(size);
      if (!::CertSerializeCertificateStoreElement(old, 0, saved.data(), &size)) saved.clear();
    }
    if (saved.empty()) {
      // Without a copy to fall back on, the entry is not touched.
      ::CertFreeCertificateContext(old);
      return false;
    }
    ::CertDeleteCertificateFromStore(old);  // frees old
  }
  const bool added = add ? add(store, cert)
                         : ::CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  if (added) return true;
  if (!saved.empty()) {
    ::CertAddSerializedElementToStore(store, saved.data(), static_cast<DWORD>(saved.size()),
                                      CERT_STORE_ADD_REPLACE_EXISTING, 0, CERT_STORE_CERTIFICATE_CONTEXT_FLAG,
                                      nullptr, nullptr);
  }
  return false;
}

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

bool StoreRegistrar::RegisterCertificate(CK_SLOT_ID slot, TokenCertificate& cert, StoreBatch* batch,
                                         const TokenKeys* keys) {
  StoreBatch local;
  StoreBatch& stores = batch ? *batch : local;
  // Decoded once; everything below reads this context.
  UniqueCertContext context = DecodeCertificate(cert.value);
  if (!context) return false;
  TokenKeys own;
  if (!keys) {
    own = TokenKeys::Read(module_.Functions(), slot);
    keys = &own;
  }
  // Without the whole key list nobody can tell whether the certificate's key is on the token: filed now, a
  // certificate of the user's would land in ROOT, CA or ADDRESSBOOK for good. It waits for a whole read.
  if (keys->ReadResult() != CKR_OK) return false;
  std::optional<std::vector<uint8_t>> modulus = ExtractModulus(context.get());
  const bool toMy = modulus && keys->KeyIsOnToken(cert.container, *modulus);
  const wchar_t* storeName = toMy ? L"MY" : ChooseStoreForCertificate(*context.get());
  HCERTSTORE store = stores.Get(storeName);
  if (!store) return false;
  auto path = ContainerPath(slot, cert);
  if (!path) return false;

  DWORD keySpec = AT_KEYEXCHANGE;
  if (keys->FindKeySpec(cert.id, cert.container, &keySpec) != CKR_OK) keySpec = KeySpecFromKeyUsage(context.get());
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
    return ReplaceInStore(store, context.get());
  }
  return ::CertAddCertificateContextToStore(store, context.get(), CERT_STORE_ADD_USE_EXISTING, nullptr) != FALSE;
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

void StoreRegistrar::RegisterTokenCertificates(CK_SLOT_ID slot, const TokenKeys* keys) {
  auto it = std::find_if(tokens_.begin(), tokens_.end(), [&](const TokenRecord& t) { return t.slot == slot; });
  if (it == tokens_.end()) return;
  // The token's keys are read once for all of its certificates.
  TokenKeys own;
  if (!keys && !it->certificates.empty()) {
    own = TokenKeys::Read(module_.Functions(), slot);
    keys = &own;
  }
  // A token read only in part files nothing: its certificates wait for a read that gets them all.
  if (!it->readWhole || (keys && keys->ReadResult() != CKR_OK)) return;
  StoreBatch batch;
  for (TokenCertificate& cert : it->certificates) {
    RegisterCertificate(slot, cert, &batch, keys);
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

bool StoreRegistrar::PurgeSlot(CK_SLOT_ID slot, const std::wstring& slotDescription) {
  if (slotDescription.empty()) return false;  // no path to recognise the slot's entries by
  const std::wstring prefix = L"\\\\.\\" + slotDescription + L"\\";
  // Another token in a slot of the same description has entries on the same path: those stay, or its
  // certificates would be gone from MY until they could be read again.
  std::vector<std::wstring> othersPaths;
  for (const TokenRecord& t : tokens_) {
    if (t.slot == slot || !EqualsNoCase(t.slotDescription, slotDescription)) continue;
    for (const TokenCertificate& other : t.certificates)
      if (auto path = ContainerPath(t.slot, other)) othersPaths.push_back(*path);
  }
  std::vector<std::vector<uint8_t>> deleted;
  StoreBatch batch;
  HCERTSTORE my = batch.Get(L"MY");
  if (!my) return false;
  const std::wstring& csp = cspName_;
  DeleteMatching(
      my,
      [&](const CRYPT_KEY_PROV_INFO& info) {
        std::wstring_view container = info.pwszContainerName;
        if (!EqualsNoCase(info.pwszProvName, csp) || container.size() < prefix.size() ||
            !EqualsNoCase(container.substr(0, prefix.size()), prefix))
          return false;
        return std::none_of(othersPaths.begin(), othersPaths.end(),
                            [&](const std::wstring& p) { return EqualsNoCase(container, p); });
      },
      &deleted);
  for (TokenRecord& t : tokens_) {
    if (t.slot == slot) continue;
    for (TokenCertificate& other : t.certificates)
      if (std::find(deleted.begin(), deleted.end(), other.value) != deleted.end())
        RegisterCertificate(t.slot, other, &batch);
  }
  return true;
}

}  // namespace vd
