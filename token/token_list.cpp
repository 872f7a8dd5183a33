// Reading tokens and their certificates, and the handlers of the module's token and object events.
#include <algorithm>
#include <cstring>

#include "cert_facts.h"
#include "object_reading.h"
#include "expiry.h"
#include "text.h"
#include "token_manager.h"

namespace vd {
namespace {

// A certificate's attributes, with the buffer sizes that hold them on a typical token.
const std::vector<AttributeRequest> kCertificateAttributes = {
    {CKA_ID, 64},
    {CKA_VALUE, 4096},
    {CKA_VENDOR_CONTAINER, 256},
    {CKA_LABEL, 256},
};
// A search that never runs dry is a broken module, not a token with this many certificates.
constexpr size_t kMaxCertificates = 4096;
// More slots than any machine has readers: a count beyond it is garbage.
constexpr CK_ULONG kMaxSlots = 1024;
// An inserted token's certificates are warned about when they expire within this many days.
constexpr int kExpiryHorizonDays = 30;

// Every object of a token in one pass, certificates and private keys alike: their attributes together.
const std::vector<AttributeRequest> kObjectAttributes = {
    {CKA_CLASS, sizeof(CK_OBJECT_CLASS)},
    {CKA_ID, 64},
    {CKA_VALUE, 4096},
    {CKA_VENDOR_CONTAINER, 256},
    {CKA_LABEL, 256},
    {CKA_KEY_TYPE, sizeof(CK_KEY_TYPE)},
    {CKA_MODULUS, 512},
    {CKA_ENCRYPT, sizeof(CK_BBOOL)},
};
enum ObjectAttribute { kClass, kId, kValue, kContainer, kLabel, kKeyType, kModulus, kEncrypt };

TokenCertificate MakeCertificate(CK_SLOT_ID slot, CK_OBJECT_HANDLE handle, std::vector<uint8_t> id,
                                 std::vector<uint8_t> value, const std::vector<uint8_t>& container,
                                 const std::vector<uint8_t>& label) {
  TokenCertificate cert;
  cert.slot = slot;
  cert.handle = handle;
  cert.id = std::move(id);
  cert.value = std::move(value);
  cert.container = AnsiToWide(FixedField(container.data(), container.size()));
  if (UniqueCertContext decoded = DecodeCertificate(cert.value)) {
    cert.displayName = MakeDisplayName(decoded.get());
  } else {
    const char* text = reinterpret_cast<const char*>(label.data());
    cert.displayName = Utf8ToWide(std::string_view(text, strnlen(text, label.size())));
  }
  return cert;
}

// A certificate without the vendor's container attribute names no key; the private key with its CKA_ID
// does, when the token has one.
bool NeedsKeyContainers(const TokenRecord& record) {
  return std::any_of(record.certificates.begin(), record.certificates.end(),
                     [](const TokenCertificate& c) { return c.container.empty() && !c.id.empty(); });
}

void TakeKeyContainers(const TokenKeys& keys, TokenRecord* record) {
  for (TokenCertificate& c : record->certificates)
    if (c.container.empty()) c.container = keys.ContainerForId(c.id);
}

}  // namespace

CK_RV TokenManager::EnumerateTokens(bool homePage, std::vector<CK_SLOT_ID>* unread, bool* slotsListed) {
  if (slotsListed) *slotsListed = false;
  CK_FUNCTION_LIST* fl = module_.Functions();
  if (!fl || !initialised_) return CKR_CRYPTOKI_NOT_INITIALIZED;
  std::vector<CK_SLOT_ID> slots;
  // Nothing could be learnt about the tokens: every record stays as it was.
  if (CK_RV rv = ListPresentSlots(fl, &slots); rv != CKR_OK) return rv;
  if (slotsListed) *slotsListed = true;

  // The new list is built aside while the old one stays listed, so that object events meanwhile still find
  // their token; a token that met one is read again, since this read may have missed it.
  std::vector<TokenRecord> previous;
  {
    CsLock lock(lock_);
    previous = tokens_;
    enumerating_ = true;
    touchedDuringEnumeration_.clear();
  }
  auto previousOf = [&](CK_SLOT_ID slot) -> TokenRecord* {
    auto it = std::find_if(previous.begin(), previous.end(), [&](const TokenRecord& t) { return t.slot == slot; });
    return it == previous.end() ? nullptr : &*it;
  };
  struct Taken {
    CK_SLOT_ID slot;
    TokenKeys keys;
  };
  std::vector<TokenRecord> fresh;
  std::vector<Taken> taken;  // read whole: filed once the list is swapped in
  std::vector<CK_SLOT_ID> again;
  CK_RV last = CKR_OK;
  for (CK_SLOT_ID slot : slots) {
    if (std::any_of(fresh.begin(), fresh.end(), [&](const TokenRecord& t) { return t.slot == slot; })) continue;
    CK_SLOT_INFO info{};
    last = fl->C_GetSlotInfo(slot, &info);
    if (last != CKR_OK) {
      if (TokenRecord* old = previousOf(slot)) fresh.push_back(*old);  // present or not, we cannot tell
      continue;
    }
    if (!(info.flags & CKF_TOKEN_PRESENT)) continue;
    TokenKeys keys;
    bool complete = true;
    TokenRecord record;
    const bool read = ReadToken(slot, &keys, &complete, &info, nullptr, &record) == CKR_OK;
    if (!read || !complete) {
      // A read that failed decides nothing: an earlier record stays (to be read again), and otherwise what
      // a partial read got is listed with nothing filed. Either way the token is read again.
      again.push_back(slot);
      if (TokenRecord* old = previousOf(slot)) {
        old->readWhole = false;
        fresh.push_back(*old);
      } else if (read) {
        fresh.push_back(std::move(record));
      }
      continue;
    }
    fresh.push_back(std::move(record));
    taken.push_back({slot, std::move(keys)});
  }

  std::vector<TokenRecord> old;
  {
    CsLock lock(lock_);
    enumerating_ = false;
    for (CK_SLOT_ID slot : touchedDuringEnumeration_) {
      auto it = std::find_if(fresh.begin(), fresh.end(), [&](const TokenRecord& t) { return t.slot == slot; });
      if (it == fresh.end()) continue;
      it->readWhole = false;
      std::erase_if(taken, [&](const Taken& t) { return t.slot == slot; });
      if (std::find(again.begin(), again.end(), slot) == again.end()) again.push_back(slot);
    }
    touchedDuringEnumeration_.clear();
    old.swap(tokens_);
    tokens_ = std::move(fresh);
  }

  for (const TokenRecord& gone : old) {
    const TokenRecord* now = nullptr;
    {
      CsLock lock(lock_);
      now = FindRecord(gone.slot);
      if (now) ForgetVanished(gone, *now);
    }
    // Slots the module no longer reports, or reports empty, lost their tokens.
    if (!now) PurgeSlotRegistrations(gone.slot, gone.slotDescription);
  }
  for (const Taken& t : taken) {
    RegisterTokenCertificates(t.slot, &t.keys);
    if (homePage) LaunchHomePage(t.slot);
  }
  if (unread) unread->insert(unread->end(), again.begin(), again.end());
  return last;
}

void TokenManager::ForgetVanished(const TokenRecord& before, const TokenRecord& now) {
  // A certificate the earlier read listed and this one did not find was deleted from the token while
  // nobody heard of it: its MY entry goes, and what other tokens hold of it is filed again. A record kept
  // from before (a read that failed) is the earlier one itself and loses nothing.
  StoreBatch batch;
  for (const TokenCertificate& c : before.certificates) {
    const bool kept = std::any_of(now.certificates.begin(), now.certificates.end(),
                                  [&](const TokenCertificate& n) { return n.handle == c.handle && n.value == c.value; });
    if (kept || !c.registered) continue;
    registrar_.UnregisterCertificate(before.slot, c, &batch);
    registrar_.RestoreCopies(c, &batch);
  }
}

CK_RV TokenManager::ListPresentSlots(CK_FUNCTION_LIST* fl, std::vector<CK_SLOT_ID>* slots) {
  // A token that arrives or goes between the count and the list changes the count: both are asked again.
  constexpr int kAttempts = 3;
  CK_RV rv = CKR_OK;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    CK_ULONG count = 0;
    rv = fl->C_GetSlotList(CK_TRUE, nullptr, &count);
    if (rv != CKR_OK) return rv;
    // A count from the module is untrusted: no machine has this many readers.
    if (count > kMaxSlots) return CKR_GENERAL_ERROR;
    slots->assign(count, 0);
    if (count == 0) return CKR_OK;
    CK_ULONG listed = count;
    rv = fl->C_GetSlotList(CK_TRUE, slots->data(), &listed);
    if (rv == CKR_OK && listed <= count && (listed == count || attempt == kAttempts)) {
      slots->resize(listed);
      return CKR_OK;
    }
    if (rv != CKR_OK && rv != CKR_BUFFER_TOO_SMALL) return rv;
  }
  return rv == CKR_OK ? CKR_GENERAL_ERROR : rv;
}

void TokenManager::DropRecord(CK_SLOT_ID slot) {
  CsLock lock(lock_);
  tokens_.erase(std::remove_if(tokens_.begin(), tokens_.end(), [&](const TokenRecord& t) { return t.slot == slot; }),
                tokens_.end());
}

void TokenManager::PurgeSlotRegistrations(CK_SLOT_ID slot, const std::wstring& slotDescription) {
  CsLock lock(lock_);
  registrar_.PurgeSlot(slot, slotDescription);
}

CK_RV TokenManager::AddToken(CK_SLOT_ID slot, TokenKeys* keys, bool* complete, const CK_SLOT_INFO* knownSlot,
                             const CK_TOKEN_INFO* knownToken) {
  TokenRecord record;
  CK_RV rv = ReadToken(slot, keys, complete, knownSlot, knownToken, &record);
  if (rv != CKR_OK) return rv;
  CsLock lock(lock_);
  tokens_.push_back(std::move(record));
  return CKR_OK;
}

CK_RV TokenManager::ReadToken(CK_SLOT_ID slot, TokenKeys* keys, bool* complete, const CK_SLOT_INFO* knownSlot,
                              const CK_TOKEN_INFO* knownToken, TokenRecord* out) {
  CK_FUNCTION_LIST* fl = module_.Functions();
  if (!fl) return CKR_GENERAL_ERROR;
  // What the caller read a moment ago is not asked for again: every call is a round trip to the token.
  CK_TOKEN_INFO tokenInfo{};
  CK_RV rv = CKR_OK;
  if (knownToken) {
    tokenInfo = *knownToken;
  } else if ((rv = fl->C_GetTokenInfo(slot, &tokenInfo)) != CKR_OK) {
    return rv;
  }
  CK_SLOT_INFO slotInfo{};
  if (knownSlot) {
    slotInfo = *knownSlot;
  } else if ((rv = fl->C_GetSlotInfo(slot, &slotInfo)) != CKR_OK) {
    return rv;
  }
  TokenRecord record;
  record.slot = slot;
  record.slotDescription = AnsiToWide(FixedField(slotInfo.slotDescription, sizeof slotInfo.slotDescription));
  record.label = Utf8ToWide(FixedField(tokenInfo.label, sizeof tokenInfo.label));
  bool whole = true;
  rv = ReadTokenCertificates(record, keys, &whole);
  if (rv != CKR_OK) return rv;
  record.readWhole = whole;
  if (complete) *complete = whole;
  *out = std::move(record);
  return CKR_OK;
}

CK_RV TokenManager::ReadCertificate(CK_SESSION_HANDLE session, CK_SLOT_ID slot, CK_OBJECT_HANDLE handle,
                                    TokenCertificate* out) {
  std::vector<AttributeValue> v;
  CK_FUNCTION_LIST* fl = module_.Functions();
  CK_RV rv = ReadObjectAttributes(fl, session, handle, kCertificateAttributes, true, &v);
  if (rv != CKR_OK) return rv;
  // Unavailable may also mean "did not fit" when another attribute is missing: the lengths tell.
  if (std::any_of(v.begin(), v.end(), [](const AttributeValue& a) { return !a.present; }))
    rv = ReadObjectAttributesSized(fl, session, handle, kCertificateAttributes, true, &v);
  if (rv != CKR_OK) return rv;
  *out = MakeCertificate(slot, handle, std::move(v[0].bytes), std::move(v[1].bytes), v[2].bytes, v[3].bytes);
  return CKR_OK;
}

CK_RV TokenManager::ReadTokenCertificates(TokenRecord& record, TokenKeys* keys, bool* complete) {
  CK_FUNCTION_LIST* fl = module_.Functions();
  if (!fl) return CKR_GENERAL_ERROR;
  Pkcs11Session session;
  CK_RV rv = session.Open(fl, record.slot);
  if (rv != CKR_OK) return rv;
  // A search that fails partway keeps what was read so far, and says so. An attribute the object lacks, or
  // an object gone since the search found it, is a fact about that object, not a failed read.
  bool readAll = true;
  CK_RV searchRv = CKR_OK;
  if (!keys) {
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_ATTRIBUTE tmpl = {CKA_CLASS, &cls, sizeof cls};
    searchRv = ForEachObject(fl, session.get(), &tmpl, 1, [&](CK_OBJECT_HANDLE handle) {
      if (record.certificates.size() >= kMaxCertificates) return false;
      TokenCertificate cert;
      const CK_RV certRv = ReadCertificate(session.get(), record.slot, handle, &cert);
      if (certRv == CKR_OBJECT_HANDLE_INVALID) return true;
      if (certRv != CKR_OK) {
        readAll = false;
        return false;
      }
      record.certificates.push_back(std::move(cert));
      return true;
    });
    if (readAll && searchRv == CKR_OK && NeedsKeyContainers(record)) {
      const TokenKeys found = TokenKeys::Read(fl, record.slot, session.get());
      if (found.ReadResult() == CKR_OK)
        TakeKeyContainers(found, &record);
      else
        readAll = false;
    }
  } else {
    // With the keys wanted too, one pass over all objects reads both, one call per object.
    searchRv = ForEachObject(fl, session.get(), nullptr, 0, [&](CK_OBJECT_HANDLE handle) {
      if (record.certificates.size() >= kMaxCertificates) return false;
      std::vector<AttributeValue> v;
      const CK_RV objectRv = ReadObjectAttributes(fl, session.get(), handle, kObjectAttributes, true, &v);
      if (objectRv == CKR_OBJECT_HANDLE_INVALID) return true;
      if (objectRv != CKR_OK || !v[kClass].present || v[kClass].bytes.size() != sizeof(CK_OBJECT_CLASS)) {
        readAll = false;
        return false;
      }
      CK_OBJECT_CLASS cls = 0;
      std::memcpy(&cls, v[kClass].bytes.data(), sizeof cls);
      if (cls == CKO_PRIVATE_KEY) keys->AddKey(v[kKeyType], v[kId], v[kContainer], v[kModulus], v[kEncrypt]);
      if (cls != CKO_CERTIFICATE) return true;
      if (!v[kId].present || !v[kValue].present || !v[kContainer].present || !v[kLabel].present) {
        // The certificate's own attributes alone, lengths first, tell a missing one from one that did not fit.
        TokenCertificate cert;
        if (ReadCertificate(session.get(), record.slot, handle, &cert) != CKR_OK) {
          readAll = false;
          return false;
        }
        record.certificates.push_back(std::move(cert));
        return true;
      }
      record.certificates.push_back(MakeCertificate(record.slot, handle, std::move(v[kId].bytes),
                                                    std::move(v[kValue].bytes), v[kContainer].bytes,
                                                    v[kLabel].bytes));
      return true;
    });
    keys->Finish(readAll && searchRv == CKR_OK ? CKR_OK : (searchRv != CKR_OK ? searchRv : CKR_GENERAL_ERROR));
    // The keys may come after their certificates in the search.
    TakeKeyContainers(*keys, &record);
  }
  if (complete) *complete = readAll && searchRv == CKR_OK;
  return session.Close();
}

TokenManager::InsertOutcome TokenManager::OnTokenInserted(CK_SLOT_ID slot, bool lastAttempt) {
  CK_FUNCTION_LIST* fl = module_.Functions();
  if (!fl) return InsertOutcome::kNotTaken;
  CK_SLOT_INFO slotInfo{};
  CK_RV rv = fl->C_GetSlotInfo(slot, &slotInfo);
  if (rv == CKR_OK && !(slotInfo.flags & CKF_TOKEN_PRESENT)) return InsertOutcome::kNotTaken;
  bool listed = false;
  {
    CsLock lock(lock_);
    if (const TokenRecord* record = FindRecord(slot)) {
      // A second event for a token taken up whole changes nothing; one listed in part is read again.
      if (record->readWhole) return InsertOutcome::kListed;
      listed = true;
    }
  }
  const InsertOutcome retry = listed ? InsertOutcome::kListedPartly : InsertOutcome::kReadFailed;
  if (rv != CKR_OK) return retry;
  CK_TOKEN_INFO info{};
  if (fl->C_GetTokenInfo(slot, &info) != CKR_OK) return retry;
  TokenKeys keys;
  bool complete = true;
  TokenRecord fresh;
  if (ReadToken(slot, &keys, &complete, &slotInfo, &info, &fresh) != CKR_OK) return retry;
  if (!complete) {
    // A read that failed partway would leave the user a token without (some of) its certificates: the
    // caller reads it again shortly. Until then an earlier listing stays; the last attempt lists what it
    // read, with nothing filed, so that the user sees the token meanwhile.
    if (listed || !lastAttempt) return retry;
    CsLock lock(lock_);
    tokens_.push_back(std::move(fresh));
    greetingsDue_.push_back(slot);
    return InsertOutcome::kListedPartly;
  }
  // Read whole at last: this read replaces what was listed, and what that listing still had filed goes.
  bool greet = !listed;
  if (listed) {
    UnregisterTokenCertificates(slot, true);
    DropRecord(slot);
    auto due = std::find(greetingsDue_.begin(), greetingsDue_.end(), slot);
    greet = due != greetingsDue_.end();
    if (greet) greetingsDue_.erase(due);
  }
  {
    CsLock lock(lock_);
    tokens_.push_back(std::move(fresh));
  }
  TakeUp(slot, info, keys, greet);
  return InsertOutcome::kListed;
}

void TokenManager::TakeUp(CK_SLOT_ID slot, const CK_TOKEN_INFO& info, const TokenKeys& keys, bool greet) {
  // An uninitialised token is listed, but its certificates wait for the next enumeration.
  if (info.flags & CKF_TOKEN_INITIALIZED) RegisterTokenCertificates(slot, &keys);
  if (!greet) return;
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
  greetingsDue_.erase(std::remove(greetingsDue_.begin(), greetingsDue_.end(), slot), greetingsDue_.end());
  std::wstring description;
  {
    CsLock lock(lock_);
    if (TokenRecord* record = FindRecord(slot)) description = record->slotDescription;
    registrar_.UnregisterTokenCertificates(slot, true);
    tokens_.erase(
        std::remove_if(tokens_.begin(), tokens_.end(), [&](const TokenRecord& t) { return t.slot == slot; }),
        tokens_.end());
  }
  // Entries the list no longer knows (a read that failed, a run of ours that ended badly) go too: every MY
  // entry of ours whose container names this slot. The slot keeps its description without a token.
  if (description.empty()) {
    CK_SLOT_INFO info{};
    CK_FUNCTION_LIST* fl = module_.Functions();
    if (fl && fl->C_GetSlotInfo(slot, &info) == CKR_OK)
      description = AnsiToWide(FixedField(info.slotDescription, sizeof info.slotDescription));
  }
  PurgeSlotRegistrations(slot, description);
}

bool TokenManager::OnObjectCreated(CK_SLOT_ID slot, CK_OBJECT_HANDLE handle) {
  CsLock lock(lock_);
  TokenRecord* record = FindRecord(slot);
  if (!record) return true;
  if (enumerating_) touchedDuringEnumeration_.push_back(slot);
  CK_FUNCTION_LIST* fl = module_.Functions();
  if (!fl) return true;
  // A call that fails here may pass: the token is then no longer known whole, and is read again.
  auto failed = [&] {
    record->readWhole = false;
    return false;
  };
  Pkcs11Session session;
  if (session.Open(fl, slot) != CKR_OK) return failed();
  CK_OBJECT_CLASS cls = 0;
  CK_ATTRIBUTE classAttr = {CKA_CLASS, &cls, sizeof cls};
  const CK_RV classRv = fl->C_GetAttributeValue(session.get(), handle, &classAttr, 1);
  // An object deleted again before we looked is no certificate of the token.
  if (classRv == CKR_OBJECT_HANDLE_INVALID) return true;
  if (classRv != CKR_OK || classAttr.ulValueLen != sizeof cls) return failed();
  if (cls != CKO_CERTIFICATE) return true;
  TokenCertificate cert;
  const CK_RV certRv = ReadCertificate(session.get(), slot, handle, &cert);
  if (certRv == CKR_OBJECT_HANDLE_INVALID) return true;
  if (certRv != CKR_OK) return failed();
  // The enumeration may already have read an object whose creation event arrives afterwards.
  for (const TokenCertificate& c : record->certificates)
    if (c.handle == handle) return true;
  const TokenKeys keys = TokenKeys::Read(fl, slot, session.get());
  if (keys.ReadResult() != CKR_OK) return failed();
  if (cert.container.empty()) cert.container = keys.ContainerForId(cert.id);
  session.Close();
  registrar_.RegisterCertificate(slot, cert, nullptr, &keys);
  record->certificates.push_back(std::move(cert));
  return true;
}

void TokenManager::OnObjectDestroyed(CK_SLOT_ID slot, CK_OBJECT_HANDLE handle) {
  CsLock lock(lock_);
  TokenRecord* record = FindRecord(slot);
  if (!record) return;
  if (enumerating_) touchedDuringEnumeration_.push_back(slot);
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
