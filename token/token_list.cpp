// Reading tokens and their certificates, and the handlers of the module's token and object events.
#include <algorithm>

#include "cert_facts.h"
#include "expiry.h"
#include "text.h"
#include "token_manager.h"

namespace vd {
namespace {

// Attribute lengths come from the module. Nothing on a token is this big; a larger length is garbage and
// must not turn into an allocation of whatever it claims.
constexpr CK_ULONG kMaxAttributeLength = 1u << 20;
// A search that never runs dry is a broken module, not a token with this many certificates.
constexpr size_t kMaxCertificates = 4096;
// An inserted token's certificates are warned about when they expire within this many days.
constexpr int kExpiryHorizonDays = 30;

}  // namespace

CK_RV TokenManager::EnumerateTokens(bool homePage) {
  {
    CsLock lock(lock_);
    tokens_.clear();  // what is registered stays registered; the reads below register again
  }
  CK_FUNCTION_LIST* fl = module_.Functions();
  if (!fl) return CKR_GENERAL_ERROR;
  CK_ULONG count = 0;
  CK_RV rv = fl->C_GetSlotList(CK_TRUE, nullptr, &count);
  if (rv != CKR_OK) return rv;
  if (count == 0) return CKR_OK;
  std::vector<CK_SLOT_ID> slots(count);
  CK_ULONG again = count;
  rv = fl->C_GetSlotList(CK_TRUE, slots.data(), &again);
  if (rv != CKR_OK || again != count) return rv;

  CK_RV last = CKR_OK;
  for (CK_SLOT_ID slot : slots) {
    CK_SLOT_INFO info{};
    last = fl->C_GetSlotInfo(slot, &info);
    if (last != CKR_OK || !(info.flags & CKF_TOKEN_PRESENT)) continue;
    if (AddToken(slot) != CKR_OK) continue;
    RegisterTokenCertificates(slot);
    if (homePage) LaunchHomePage(slot);
  }
  return last;
}

CK_RV TokenManager::AddToken(CK_SLOT_ID slot) {
  CK_FUNCTION_LIST* fl = module_.Functions();
  if (!fl) return CKR_GENERAL_ERROR;
  CK_TOKEN_INFO tokenInfo{};
  CK_RV rv = fl->C_GetTokenInfo(slot, &tokenInfo);
  if (rv != CKR_OK) return rv;
  CK_SLOT_INFO slotInfo{};
  rv = fl->C_GetSlotInfo(slot, &slotInfo);
  if (rv != CKR_OK) return rv;
  TokenRecord record;
  record.slot = slot;
  record.slotDescription = AnsiToWide(FixedField(slotInfo.slotDescription, sizeof slotInfo.slotDescription));
  record.label = Utf8ToWide(FixedField(tokenInfo.label, sizeof tokenInfo.label));
  rv = ReadTokenCertificates(record);
  if (rv != CKR_OK) return rv;
  CsLock lock(lock_);
  tokens_.push_back(std::move(record));
  return CKR_OK;
}

CK_RV TokenManager::ReadCertificate(CK_SESSION_HANDLE session, CK_SLOT_ID slot, CK_OBJECT_HANDLE handle,
                                    TokenCertificate* out) {
  CK_FUNCTION_LIST* fl = module_.Functions();
  CK_ATTRIBUTE attrs[] = {
      {CKA_ID, nullptr, 0},
      {CKA_VALUE, nullptr, 0},
      {CKA_VENDOR_CONTAINER, nullptr, 0},
      {CKA_LABEL, nullptr, 0},
  };
  CK_RV rv = fl->C_GetAttributeValue(session, handle, attrs, 4);
  if (rv != CKR_OK) return rv;
  for (const CK_ATTRIBUTE& a : attrs)
    if (a.ulValueLen > kMaxAttributeLength) return CKR_GENERAL_ERROR;  // also CK_UNAVAILABLE_INFORMATION

  std::vector<uint8_t> buffers[4];
  for (size_t i = 0; i < 4; ++i) {
    // The label gets one zero byte more, so that it always ends in a NUL.
    buffers[i].assign(attrs[i].ulValueLen + (i == 3 ? 1 : 0), 0);
    attrs[i].pValue = buffers[i].empty() ? nullptr : buffers[i].data();
  }
  rv = fl->C_GetAttributeValue(session, handle, attrs, 4);
  if (rv != CKR_OK) return rv;
  for (size_t i = 0; i < 4; ++i) {
    // A module that claims more than it could have written has not filled the buffer we gave it.
    if (attrs[i].ulValueLen > buffers[i].size()) return CKR_GENERAL_ERROR;
    if (i != 3) buffers[i].resize(attrs[i].ulValueLen);
  }

  TokenCertificate cert;
  cert.slot = slot;
  cert.handle = handle;
  cert.id = std::move(buffers[0]);
  cert.value = std::move(buffers[1]);
  const auto& container = buffers[2];
  cert.container = AnsiToWide(FixedField(container.data(), container.size()));
  const auto& label = buffers[3];
  if (DecodeCertificate(cert.value))
    cert.displayName = MakeDisplayName(cert.value);
  else
    cert.displayName = Utf8ToWide(std::string_view(reinterpret_cast<const char*>(label.data()),
                                                   strnlen(reinterpret_cast<const char*>(label.data()),
                                                           label.size())));
  *out = std::move(cert);
  return CKR_OK;
}

CK_RV TokenManager::ReadTokenCertificates(TokenRecord& record) {
  CK_FUNCTION_LIST* fl = module_.Functions();
  if (!fl) return CKR_GENERAL_ERROR;
  Pkcs11Session session;
  CK_RV rv = session.Open(fl, record.slot);
  if (rv != CKR_OK) return rv;
  CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
  CK_ATTRIBUTE tmpl = {CKA_CLASS, &cls, sizeof cls};
  if (fl->C_FindObjectsInit(session.get(), &tmpl, 1) == CKR_OK) {
    // A search that fails partway keeps what was read so far.
    while (record.certificates.size() < kMaxCertificates) {
      CK_OBJECT_HANDLE handle = 0;
      CK_ULONG found = 0;
      if (fl->C_FindObjects(session.get(), &handle, 1, &found) != CKR_OK || found != 1) break;
      TokenCertificate cert;
      if (ReadCertificate(session.get(), record.slot, handle, &cert) != CKR_OK) break;
      record.certificates.push_back(std::move(cert));
    }
    fl->C_FindObjectsFinal(session.get());
  }
  return session.Close();
}

void TokenManager::OnTokenInserted(CK_SLOT_ID slot) {
  CK_FUNCTION_LIST* fl = module_.Functions();
  if (!fl || !SlotHasToken(slot)) return;
  CK_TOKEN_INFO info{};
  if (fl->C_GetTokenInfo(slot, &info) != CKR_OK) return;
  if (HasToken(slot)) return;
  if (AddToken(slot) != CKR_OK) return;
  // An uninitialised token is listed, but its certificates wait for the next enumeration.
  if (info.flags & CKF_TOKEN_INITIALIZED) RegisterTokenCertificates(slot);

  std::vector<std::vector<uint8_t>> values;
  WithTokens([&](const std::vector<TokenRecord>& tokens) {
    for (const TokenRecord& t : tokens)
      if (t.slot == slot)
        for (const TokenCertificate& c : t.certificates) values.push_back(c.value);
  });
  // Outside the lock: the warning is modal and the event worker must not wait for the user.
  CheckExpiry(values, kExpiryHorizonDays, expiryPrompt_);
  LaunchHomePage(slot);
}

void TokenManager::OnTokenRemoved(CK_SLOT_ID slot) {
  CsLock lock(lock_);
  registrar_.UnregisterTokenCertificates(slot, true);
  tokens_.erase(std::remove_if(tokens_.begin(), tokens_.end(), [&](const TokenRecord& t) { return t.slot == slot; }),
                tokens_.end());
}

void TokenManager::OnObjectCreated(CK_SLOT_ID slot, CK_OBJECT_HANDLE handle) {
  CsLock lock(lock_);
  if (!FindRecord(slot)) return;
  CK_FUNCTION_LIST* fl = module_.Functions();
  if (!fl) return;
  Pkcs11Session session;
  if (session.Open(fl, slot) != CKR_OK) return;
  CK_OBJECT_CLASS cls = 0;
  CK_ATTRIBUTE classAttr = {CKA_CLASS, &cls, sizeof cls};
  if (fl->C_GetAttributeValue(session.get(), handle, &classAttr, 1) != CKR_OK || classAttr.ulValueLen != sizeof cls ||
      cls != CKO_CERTIFICATE)
    return;
  TokenCertificate cert;
  if (ReadCertificate(session.get(), slot, handle, &cert) != CKR_OK) return;
  session.Close();
  TokenRecord* record = FindRecord(slot);
  // The enumeration may already have read an object whose creation event arrives afterwards.
  for (const TokenCertificate& c : record->certificates)
    if (c.handle == handle) return;
  registrar_.RegisterCertificate(slot, cert);
  record->certificates.push_back(std::move(cert));
}

void TokenManager::OnObjectDestroyed(CK_SLOT_ID slot, CK_OBJECT_HANDLE handle) {
  CsLock lock(lock_);
  TokenRecord* record = FindRecord(slot);
  if (!record) return;
  auto it = std::find_if(record->certificates.begin(), record->certificates.end(),
                         [&](const TokenCertificate& c) { return c.handle == handle; });
  if (it == record->certificates.end()) return;
  TokenCertificate gone = std::move(*it);
  record->certificates.erase(it);
  StoreBatch batch;
  registrar_.UnregisterCertificate(slot, gone, &batch);
  registrar_.RestoreCopies(gone, &batch);
}

}  // namespace vd
