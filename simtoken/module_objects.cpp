// Object search, attribute reads, object destruction and the user PIN change of the simulated module.
#include "module_functions.h"

#include <cstring>

namespace simtoken {
namespace {

bool TemplateReadable(const CK_ATTRIBUTE* tmpl, CK_ULONG count) {
  if (count > 0 && !tmpl) return false;
  for (CK_ULONG i = 0; i < count; ++i)
    if (!tmpl[i].pValue && tmpl[i].ulValueLen > 0) return false;
  return true;
}

}  // namespace

CK_RV FindObjectsInit(CK_SESSION_HANDLE h, CK_ATTRIBUTE_PTR tmpl, CK_ULONG count) {
  return Guarded("C_FindObjectsInit", [&]() -> CK_RV {
    return WithTokens([&](Module& m) {
      Session s;
      std::shared_ptr<const Token> t;
      CK_RV rv = SessionToken(m, h, &s, &t);
      if (rv != CKR_OK) return rv;
      if (!TemplateReadable(tmpl, count)) return CKR_ARGUMENTS_BAD;
      if (s.finding) return CKR_OPERATION_ACTIVE;
      Session& live = m.sessions[h];
      live.found.clear();
      for (const Object& o : t->objects)
        if (o.Matches(tmpl, count)) live.found.push_back(o.handle);
      live.finding = true;
      live.next = 0;
      return CKR_OK;
    });
  });
}

CK_RV FindObjects(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE_PTR objects, CK_ULONG max, CK_ULONG_PTR count) {
  return Guarded("C_FindObjects", [&]() -> CK_RV {
    return WithTokens([&](Module& m) {
      Session s;
      std::shared_ptr<const Token> t;
      CK_RV rv = SessionToken(m, h, &s, &t);
      if (rv != CKR_OK) return rv;
      if (!count || (!objects && max > 0)) return CKR_ARGUMENTS_BAD;
      if (!s.finding) return CKR_OPERATION_NOT_INITIALIZED;
      Session& live = m.sessions[h];
      CK_ULONG n = 0;
      while (n < max && live.next < live.found.size()) objects[n++] = live.found[live.next++];
      *count = n;
      return CKR_OK;
    });
  });
}

CK_RV FindObjectsFinal(CK_SESSION_HANDLE h) {
  return Guarded("C_FindObjectsFinal", [&]() -> CK_RV {
    return WithTokens([&](Module& m) {
      Session s;
      std::shared_ptr<const Token> t;
      CK_RV rv = SessionToken(m, h, &s, &t);
      if (rv != CKR_OK) return rv;
      if (!s.finding) return CKR_OPERATION_NOT_INITIALIZED;
      Session& live = m.sessions[h];
      live.finding = false;
      live.found.clear();
      live.next = 0;
      return CKR_OK;
    });
  });
}

CK_RV GetAttributeValue(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR tmpl, CK_ULONG count) {
  return Guarded("C_GetAttributeValue", [&]() -> CK_RV {
    std::shared_ptr<const Token> t;
    CK_RV rv = WithTokens([&](Module& m) {
      Session s;
      return SessionToken(m, h, &s, &t);
    });
    if (rv != CKR_OK) return rv;
    if (!tmpl && count > 0) return CKR_ARGUMENTS_BAD;
    const Object* o = t->FindObject(object);
    if (!o) return CKR_OBJECT_HANDLE_INVALID;
    bool missing = false, tooSmall = false;
    for (CK_ULONG i = 0; i < count; ++i) {
      CK_ATTRIBUTE& a = tmpl[i];
      const Attribute* have = o->Find(a.type);
      if (!have) {
        a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
        missing = true;
        continue;
      }
      CK_ULONG need = static_cast<CK_ULONG>(have->value.size());
      if (a.pValue) {
        if (a.ulValueLen < need) {
          // The needed length is reported so that a caller can retry with a buffer that fits.
          tooSmall = true;
        } else if (need > 0) {
          std::memcpy(a.pValue, have->value.data(), need);
        }
      }
      a.ulValueLen = need;
    }
    if (missing) return CKR_ATTRIBUTE_TYPE_INVALID;
    if (tooSmall) return CKR_BUFFER_TOO_SMALL;
    return CKR_OK;
  });
}

// The calls below change a token: the store lock is held from the read of the token to its write, so that
// no other writer's change in between is lost.

CK_RV DestroyObject(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE object) {
  return Guarded("C_DestroyObject", [&]() -> CK_RV {
    std::shared_ptr<Store> store = CurrentStore();
    if (!store) return CKR_CRYPTOKI_NOT_INITIALIZED;
    Store::Lock lock(*store);
    Session s;
    std::shared_ptr<const Token> current;
    CK_RV rv = WithTokensLocked(store, [&](Module& m) { return SessionToken(m, h, &s, &current); });
    if (rv != CKR_OK) return rv;
    if (!(s.flags & CKF_RW_SESSION)) return CKR_SESSION_READ_ONLY;
    Token t = *current;
    if (!t.RemoveObject(object)) return CKR_OBJECT_HANDLE_INVALID;
    if (!store->SaveToken(s.slot, t)) return CKR_DEVICE_ERROR;
    store->RaiseEvent(Event{static_cast<uint32_t>(s.slot), TOKEN_EVT_OBJECT_DESTROYED, static_cast<uint32_t>(object)});
    return CKR_OK;
  });
}

// The PINs are hashed straight from the caller's buffers (pin_record.h): this call makes no copy of them.
CK_RV SetPIN(CK_SESSION_HANDLE h, CK_UTF8CHAR_PTR oldPin, CK_ULONG oldLen, CK_UTF8CHAR_PTR newPin, CK_ULONG newLen) {
  return Guarded("C_SetPIN", [&]() -> CK_RV {
    std::shared_ptr<Store> store = CurrentStore();
    if (!store) return CKR_CRYPTOKI_NOT_INITIALIZED;
    Store::Lock lock(*store);
    Session s;
    std::shared_ptr<const Token> current;
    CK_RV rv = WithTokensLocked(store, [&](Module& m) { return SessionToken(m, h, &s, &current); });
    if (rv != CKR_OK) return rv;
    if ((!oldPin && oldLen > 0) || (!newPin && newLen > 0)) return CKR_ARGUMENTS_BAD;
    if (!(s.flags & CKF_RW_SESSION)) return CKR_SESSION_READ_ONLY;
    Token t = *current;
    if (t.triesLeft == 0) return CKR_PIN_LOCKED;
    // A new PIN of the wrong length is refused before the old one is checked, so it costs no try.
    if (newLen < t.minPin || newLen > t.maxPin) return CKR_PIN_LEN_RANGE;
    if (!t.userPin.Matches(oldPin, oldLen)) {
      --t.triesLeft;
      if (!store->SaveToken(s.slot, t)) return CKR_DEVICE_ERROR;
      return CKR_PIN_INCORRECT;
    }
    t.userPin.Set(newPin, newLen);
    t.triesLeft = t.maxTries;
    t.flags &= ~static_cast<CK_FLAGS>(CKF_USER_PIN_TO_BE_CHANGED);
    if (!store->SaveToken(s.slot, t)) return CKR_DEVICE_ERROR;
    return CKR_OK;
  });
}

}  // namespace simtoken
