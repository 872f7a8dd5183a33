// The vendor extension table: token initialisation, label writing, PIN try counters and the blocking
// event entry.
#include "module_functions.h"

#include <cstring>

namespace simtoken {
namespace {

void Raise(const Store& store, CK_SLOT_ID slot, uint32_t code, uint32_t data = 0) {
  if (!store.RaiseEvent(Event{static_cast<uint32_t>(slot), code, data}))
    DebugLine(L"cannot append to the event log");
}

// Under the store lock held by the caller: the slot's present token, from a refreshed cache.
CK_RV LockedToken(const std::shared_ptr<Store>& store, CK_SLOT_ID slot, std::shared_ptr<const Token>* token) {
  return WithTokensLocked(store, [&](Module& m) { return PresentToken(m.cache.Slot(slot), token); });
}

}  // namespace

// The PINs of the block are hashed where they are (pin_record.h): this call makes no copy of them, and the
// security officer's PIN is not kept at all.
CK_RV InitToken(CK_SLOT_ID slot, TokenInitParams* params) {
  return Guarded("E_InitToken", [&]() -> CK_RV {
    std::shared_ptr<Store> store = CurrentStore();
    if (!store) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!IsSlotId(slot)) return CKR_SLOT_ID_INVALID;
    if (!params || !params->label || !params->userPin) return CKR_ARGUMENTS_BAD;
    Store::Lock lock(*store);
    std::shared_ptr<const Token> current;
    CK_RV rv = LockedToken(store, slot, &current);
    if (rv != CKR_OK) return rv;
    Token t = *current;
    Raise(*store, slot, TOKEN_EVT_INIT);
    // The label is read up to 32 bytes at most: the caller's text need not be terminated within them.
    size_t labelLen = strnlen(params->label, sizeof t.label);
    t.SetLabel(std::string_view(params->label, labelLen));
    t.userPin.Set(params->userPin, strnlen(params->userPin, 256));
    t.maxTries = params->maxUserTries ? params->maxUserTries : 6;
    t.triesLeft = t.maxTries;
    t.firmware = CK_VERSION{params->firmwareMajor, params->firmwareMinor};
    t.totalPublicMemory = params->totalPublicMemory;
    t.totalPrivateMemory = params->totalPrivateMemory;
    t.flags = CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED;
    t.objects.clear();
    if (!store->SaveToken(slot, t)) {
      Raise(*store, slot, TOKEN_EVT_INIT_FAILED);
      return CKR_DEVICE_ERROR;
    }
    Raise(*store, slot, TOKEN_EVT_INIT_OK);
    return CKR_OK;
  });
}

CK_RV SetLabel(CK_SLOT_ID slot, CK_ULONG, CK_ULONG, CK_ULONG, const CK_UTF8CHAR* label32) {
  return Guarded("E_SetLabel", [&]() -> CK_RV {
    std::shared_ptr<Store> store = CurrentStore();
    if (!store) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!IsSlotId(slot)) return CKR_SLOT_ID_INVALID;
    if (!label32) return CKR_ARGUMENTS_BAD;
    Store::Lock lock(*store);
    std::shared_ptr<const Token> current;
    CK_RV rv = LockedToken(store, slot, &current);
    if (rv != CKR_OK) return rv;
    Token t = *current;
    std::memcpy(t.label, label32, sizeof t.label);
    if (!store->SaveToken(slot, t)) return CKR_DEVICE_ERROR;
    Raise(*store, slot, TOKEN_EVT_LABEL_CHANGED);
    return CKR_OK;
  });
}

CK_RV GetPinInfo(CK_SLOT_ID slot, CK_BYTE* out4) {
  return Guarded("E_GetPinInfo", [&]() -> CK_RV {
    if (!CurrentStore()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!IsSlotId(slot)) return CKR_SLOT_ID_INVALID;
    if (!out4) return CKR_ARGUMENTS_BAD;
    std::shared_ptr<const Token> t;
    CK_RV rv = WithTokens([&](Module& m) { return PresentToken(m.cache.Slot(slot), &t); });
    if (rv != CKR_OK) return rv;
    // Bytes 0 and 1: the security officer's counters, which this token never spends.
    out4[0] = 6;
    out4[1] = 6;
    out4[2] = static_cast<CK_BYTE>(t->maxTries > 255 ? 255 : t->maxTries);
    out4[3] = static_cast<CK_BYTE>(t->triesLeft > 255 ? 255 : t->triesLeft);
    return CKR_OK;
  });
}

// Delivers each event logged after this process's C_Initialize exactly once and in order. The wake event
// is manual-reset and is reset before the log is read, so an event appended between the read and the
// wait still ends the wait.
CK_RV WaitForEvent(CK_FLAGS flags, CK_SLOT_ID* slot, CK_ULONG* code, CK_ULONG* data, void*) {
  return Guarded("E_WaitForEvent", [&]() -> CK_RV {
    Module& m = TheModule();
    std::shared_ptr<WaitContext> ctx;
    {
      std::lock_guard<std::mutex> g(m.mu);
      if (!m.initialized || !m.wait) return CKR_CRYPTOKI_NOT_INITIALIZED;
      ctx = m.wait;
    }
    if (!slot || !code || !data) return CKR_ARGUMENTS_BAD;
    for (;;) {
      ::ResetEvent(ctx->wake.get());
      {
        Store::Lock lock(*ctx->store);
        std::lock_guard<std::mutex> g(m.mu);
        if (m.wait != ctx) return CKR_CRYPTOKI_NOT_INITIALIZED;
        uint64_t count = ctx->store->EventCount();
        if (ctx->cursor < count) {
          Event e;
          if (!ctx->store->ReadEvent(ctx->cursor, &e)) return CKR_DEVICE_ERROR;
          ++ctx->cursor;
          // Another thread of this process may have been waiting too: let it look again.
          if (ctx->cursor < count) ::SetEvent(ctx->wake.get());
          *slot = e.slot;
          *code = e.code;
          *data = e.data;
          return CKR_OK;
        }
      }
      if (flags & CKF_DONT_BLOCK) return CKR_NO_EVENT;
      HANDLE handles[2] = {ctx->finalized.get(), ctx->wake.get()};
      DWORD w = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
      if (w == WAIT_OBJECT_0) return CKR_CRYPTOKI_NOT_INITIALIZED;
      if (w != WAIT_OBJECT_0 + 1) return CKR_GENERAL_ERROR;
    }
  });
}


}  // namespace simtoken
