// Library, slot, token and session functions of the simulated module.
#include "module_functions.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace simtoken {
namespace {

void SetupWaiter(Module& m, const std::shared_ptr<Store>& store) {
  static LONG counter = 0;
  auto ctx = std::make_shared<WaitContext>();
  ctx->store = store;
  wchar_t id[64];
  // The counter's address tells apart copies of this module loaded under other names in one process.
  swprintf(id, 64, L"w%lu-%ld-%llx", ::GetCurrentProcessId(), ::InterlockedIncrement(&counter),
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&counter)));
  ctx->id = id;
  ctx->wake.reset(::CreateEventW(nullptr, TRUE, FALSE, store->WaiterEventName(ctx->id).c_str()));
  ctx->finalized.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!ctx->wake || !ctx->finalized) throw std::bad_alloc();
  store->RegisterWaiter(ctx->id);
  ctx->cursor = store->EventCount();
  m.wait = ctx;
}

// Caller holds the store lock and Module::mu.
void TearDown(Module& m) {
  m.initialized = false;
  if (m.wait) {
    ::SetEvent(m.wait->finalized.get());
    if (m.store) m.store->UnregisterWaiter(m.wait->id);
    m.wait.reset();
  }
  m.sessions.clear();
  if (m.store) m.store->shared().ReleaseSessionEntry(m.sessionEntry);
  m.sessionEntry = -1;
  m.faults.clear();
  m.cache.Clear();
  m.store.reset();
}

// Reads the rules again after tokenctl changed them; a rule that stayed as it was keeps its counts, so
// that adding a second rule does not restart the first. Caller holds Module::mu. The file is replaced
// atomically, so it is read without the store lock; a change that lands between the count and the read
// only makes the next call read the same rules once more.
void ReloadFaults(Module& m, uint32_t version) {
  m.faultsVersion = version;
  std::vector<FaultState> next;
  for (const FaultRule& r : m.store->LoadFaults()) {
    auto same = std::find_if(m.faults.begin(), m.faults.end(), [&](const FaultState& f) {
      return f.rule.function == r.function && f.rule.rv == r.rv && f.rule.after == r.after && f.rule.times == r.times;
    });
    next.push_back(same != m.faults.end() ? *same : FaultState{r, 0, 0});
  }
  m.faults = std::move(next);
}

}  // namespace

Module& TheModule() {
  static Module m;
  return m;
}

std::shared_ptr<Store> CurrentStore() {
  Module& m = TheModule();
  std::lock_guard<std::mutex> g(m.mu);
  return m.initialized ? m.store : nullptr;
}

bool InjectedFault(const char* function, CK_RV* rv, DWORD* delayMs) {
  Module& m = TheModule();
  std::lock_guard<std::mutex> g(m.mu);
  if (!m.initialized) return false;
  SharedState& shared = m.store->shared();
  *delayMs = shared.LatencyMs();
  if (const uint32_t version = shared.FaultsVersion(); version != m.faultsVersion) ReloadFaults(m, version);
  for (FaultState& f : m.faults) {
    if (f.rule.function != function) continue;
    ++f.calls;
    if (f.calls > f.rule.after && (f.rule.times == 0 || f.fired < f.rule.times)) {
      ++f.fired;
      *rv = f.rule.rv;
      return true;
    }
  }
  return false;
}

CK_RV PresentToken(const SlotState& slot, std::shared_ptr<const Token>* token) {
  if (slot.result != LoadResult::kOk) return CKR_TOKEN_NOT_PRESENT;
  *token = slot.token;
  return slot.token->present ? CKR_OK : CKR_DEVICE_REMOVED;
}

CK_RV SessionToken(const Module& m, CK_SESSION_HANDLE h, Session* copy, std::shared_ptr<const Token>* token) {
  auto it = m.sessions.find(h);
  if (it == m.sessions.end()) return CKR_SESSION_HANDLE_INVALID;
  *copy = it->second;
  CK_RV rv = PresentToken(m.cache.Slot(copy->slot), token);
  // A removal, a reset, and a token pulled and plugged in again since the session was opened all look
  // like a pulled device.
  if (rv == CKR_TOKEN_NOT_PRESENT) return CKR_DEVICE_REMOVED;
  if (rv == CKR_OK && (*token)->insertions != copy->insertion) return CKR_DEVICE_REMOVED;
  return rv;
}

void PublishSessionCount(Module& m) {
  if (m.store) m.store->shared().SetSessionCount(m.sessionEntry, static_cast<uint32_t>(m.sessions.size()));
}

void CopyPadded(CK_UTF8CHAR* field, size_t size, std::string_view text) {
  std::memset(field, ' ', size);
  std::memcpy(field, text.data(), std::min(size, text.size()));
}

CK_RV Initialize(CK_VOID_PTR initArgs) {
  // No injected fault at entry: the rules are read here, and checked once the module is up.
  return Guarded(nullptr, [&]() -> CK_RV {
    if (initArgs) {
      auto* a = static_cast<CK_C_INITIALIZE_ARGS*>(initArgs);
      if (a->pReserved) return CKR_ARGUMENTS_BAD;
      // Either all four locking callbacks or none.
      int given = !!a->CreateMutex + !!a->DestroyMutex + !!a->LockMutex + !!a->UnlockMutex;
      if (given != 0 && given != 4) return CKR_ARGUMENTS_BAD;
    }
    Module& m = TheModule();
    {
      std::lock_guard<std::mutex> g(m.mu);
      if (m.initialized) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    }
    std::wstring error;
    std::shared_ptr<Store> store(Store::Open(&error));
    if (!store) {
      DebugLine(error);
      return CKR_GENERAL_ERROR;
    }
    if (DWORD delayMs = store->shared().LatencyMs()) ::Sleep(delayMs);
    Store::Lock lock(*store);
    const uint32_t faultsVersion = store->shared().FaultsVersion();
    std::vector<FaultRule> rules = store->LoadFaults();
    std::lock_guard<std::mutex> g(m.mu);
    if (m.initialized) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    int entry = store->shared().ClaimSessionEntry();
    if (entry < 0) {
      DebugLine(L"the shared session table is full");
      return CKR_GENERAL_ERROR;
    }
    m.store = store;
    m.sessionEntry = entry;
    m.cache.Clear();
    m.faults.clear();
    for (const FaultRule& r : rules) m.faults.push_back(FaultState{r, 0, 0});
    m.faultsVersion = faultsVersion;
    m.initialized = true;
    try {
      SetupWaiter(m, store);
    } catch (...) {
      TearDown(m);
      throw;
    }
    // C_Initialize itself can be made to fail; the rules are only known from here on.
    for (const FaultState& f : m.faults) {
      if (f.rule.function != "C_Initialize") continue;
      FaultState& init = m.initFault;
      if (init.rule.rv != f.rule.rv || init.rule.after != f.rule.after || init.rule.times != f.rule.times ||
          init.rule.function != f.rule.function)
        init = FaultState{f.rule, 0, 0};
      ++init.calls;
      if (init.calls > init.rule.after && (init.rule.times == 0 || init.fired < init.rule.times)) {
        ++init.fired;
        CK_RV rv = init.rule.rv;
        TearDown(m);
        return rv;
      }
    }
    return CKR_OK;
  });
}

CK_RV Finalize(CK_VOID_PTR reserved) {
  return Guarded("C_Finalize", [&]() -> CK_RV {
    if (reserved) return CKR_ARGUMENTS_BAD;
    std::shared_ptr<Store> store = CurrentStore();
    if (!store) return CKR_CRYPTOKI_NOT_INITIALIZED;
    Store::Lock lock(*store);
    Module& m = TheModule();
    std::lock_guard<std::mutex> g(m.mu);
    if (!m.initialized) return CKR_CRYPTOKI_NOT_INITIALIZED;
    TearDown(m);
    return CKR_OK;
  });
}

CK_RV GetInfo(CK_INFO_PTR info) {
  return Guarded("C_GetInfo", [&]() -> CK_RV {
    if (!CurrentStore()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!info) return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof *info);
    info->cryptokiVersion = CK_VERSION{2, 20};
    CopyPadded(info->manufacturerID, sizeof info->manufacturerID, "Kestrova");
    CopyPadded(info->libraryDescription, sizeof info->libraryDescription, "Simulated token module");
    info->libraryVersion = CK_VERSION{1, 0};
    return CKR_OK;
  });
}

CK_RV GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
  return Guarded("C_GetSlotList", [&]() -> CK_RV {
    if (!CurrentStore()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!count) return CKR_ARGUMENTS_BAD;
    CK_SLOT_ID slots[kLastSlot];
    CK_ULONG n = 0;
    CK_RV rv = WithTokens([&](Module& m) {
      for (CK_SLOT_ID s = kFirstSlot; s <= kLastSlot; ++s) {
        std::shared_ptr<const Token> t;
        if (!tokenPresent || PresentToken(m.cache.Slot(s), &t) == CKR_OK) slots[n++] = s;
      }
      return CKR_OK;
    });
    if (rv != CKR_OK) return rv;
    if (!list) {
      *count = n;
      return CKR_OK;
    }
    if (*count < n) {
      *count = n;
      return CKR_BUFFER_TOO_SMALL;
    }
    std::copy(slots, slots + n, list);
    *count = n;
    return CKR_OK;
  });
}

CK_RV GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO_PTR info) {
  return Guarded("C_GetSlotInfo", [&]() -> CK_RV {
    if (!CurrentStore()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!IsSlotId(slot)) return CKR_SLOT_ID_INVALID;
    if (!info) return CKR_ARGUMENTS_BAD;
    CK_RV state = CKR_OK;
    CK_RV rv = WithTokens([&](Module& m) {
      std::shared_ptr<const Token> t;
      state = PresentToken(m.cache.Slot(slot), &t);
      return CKR_OK;
    });
    if (rv != CKR_OK) return rv;
    std::memset(info, 0, sizeof *info);
    char desc[64];
    std::snprintf(desc, sizeof desc, "Simulated Token Slot %lu", static_cast<unsigned long>(slot));
    CopyPadded(info->slotDescription, sizeof info->slotDescription, desc);
    CopyPadded(info->manufacturerID, sizeof info->manufacturerID, "Kestrova");
    info->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | (state == CKR_OK ? CKF_TOKEN_PRESENT : 0);
    info->hardwareVersion = CK_VERSION{1, 0};
    info->firmwareVersion = CK_VERSION{1, 0};
    return CKR_OK;
  });
}

CK_RV GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info) {
  return Guarded("C_GetTokenInfo", [&]() -> CK_RV {
    if (!CurrentStore()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!IsSlotId(slot)) return CKR_SLOT_ID_INVALID;
    if (!info) return CKR_ARGUMENTS_BAD;
    std::shared_ptr<const Token> token;
    CK_ULONG sessions = 0, rwSessions = 0;
    CK_RV rv = WithTokens([&](Module& m) {
      CK_RV present = PresentToken(m.cache.Slot(slot), &token);
      if (present != CKR_OK) return present;
      for (const auto& [h, s] : m.sessions) {
        if (s.slot != slot) continue;
        ++sessions;
        if (s.flags & CKF_RW_SESSION) ++rwSessions;
      }
      return CKR_OK;
    });
    if (rv != CKR_OK) return rv;
    const Token& t = *token;
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->label, t.label, sizeof info->label);
    std::memcpy(info->manufacturerID, t.manufacturer, sizeof info->manufacturerID);
    std::memcpy(info->model, t.model, sizeof info->model);
    std::memcpy(info->serialNumber, t.serial, sizeof info->serialNumber);
    CK_FLAGS flags = t.flags & (CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED | CKF_USER_PIN_TO_BE_CHANGED);
    flags |= CKF_RNG;
    if (t.triesLeft == 0)
      flags |= CKF_USER_PIN_LOCKED;
    else if (t.triesLeft == 1)
      flags |= CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_COUNT_LOW;
    else if (t.triesLeft < t.maxTries)
      flags |= CKF_USER_PIN_COUNT_LOW;
    info->flags = flags;
    info->ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
    info->ulSessionCount = sessions;
    info->ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
    info->ulRwSessionCount = rwSessions;
    info->ulMaxPinLen = t.maxPin;
    info->ulMinPinLen = t.minPin;
    info->ulTotalPublicMemory = t.totalPublicMemory;
    info->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    info->ulTotalPrivateMemory = t.totalPrivateMemory;
    info->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info->hardwareVersion = t.hardware;
    info->firmwareVersion = t.firmware;
    CopyPadded(info->utcTime, sizeof info->utcTime, "");
    return CKR_OK;
  });
}

CK_RV OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR session) {
  return Guarded("C_OpenSession", [&]() -> CK_RV {
    if (!CurrentStore()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!IsSlotId(slot)) return CKR_SLOT_ID_INVALID;
    if (!session) return CKR_ARGUMENTS_BAD;
    if (!(flags & CKF_SERIAL_SESSION)) return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    return WithTokens([&](Module& m) {
      std::shared_ptr<const Token> t;
      CK_RV rv = PresentToken(m.cache.Slot(slot), &t);
      if (rv != CKR_OK) return rv;
      Session s;
      s.slot = slot;
      s.flags = flags & (CKF_SERIAL_SESSION | CKF_RW_SESSION);
      s.insertion = t->insertions;
      CK_SESSION_HANDLE h = 1;
      for (const auto& entry : m.sessions) {
        if (entry.first != h) break;
        ++h;
      }
      m.sessions[h] = s;
      PublishSessionCount(m);
      *session = h;
      return CKR_OK;
    });
  });
}

CK_RV CloseSession(CK_SESSION_HANDLE h) {
  return Guarded(nullptr, [&]() -> CK_RV {
    CK_RV injected = CKR_OK;
    DWORD delayMs = 0;
    const bool fault = InjectedFault("C_CloseSession", &injected, &delayMs);
    if (delayMs) ::Sleep(delayMs);
    // An answer that says the session is gone is one a module gives after dropping it: an injected one
    // drops it too, so that a caller that believes it never has a session left behind.
    const bool gone = injected == CKR_DEVICE_REMOVED || injected == CKR_SESSION_CLOSED ||
                      injected == CKR_SESSION_HANDLE_INVALID;
    if (fault && !gone) return injected;
    return WithTokens([&](Module& m) {
      if (fault) {
        if (m.sessions.erase(h)) PublishSessionCount(m);
        return injected;
      }
      Session s;
      std::shared_ptr<const Token> t;
      CK_RV rv = SessionToken(m, h, &s, &t);
      if (rv == CKR_SESSION_HANDLE_INVALID) return rv;
      // The handle is released even for a pulled token, so that the caller can clean up.
      m.sessions.erase(h);
      PublishSessionCount(m);
      return rv;
    });
  });
}

CK_RV CloseAllSessions(CK_SLOT_ID slot) {
  return Guarded("C_CloseAllSessions", [&]() -> CK_RV {
    if (!CurrentStore()) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!IsSlotId(slot)) return CKR_SLOT_ID_INVALID;
    Module& m = TheModule();
    std::lock_guard<std::mutex> g(m.mu);
    if (!m.initialized) return CKR_CRYPTOKI_NOT_INITIALIZED;
    std::erase_if(m.sessions, [&](const auto& entry) { return entry.second.slot == slot; });
    PublishSessionCount(m);
    return CKR_OK;
  });
}

CK_RV GetSessionInfo(CK_SESSION_HANDLE h, CK_SESSION_INFO_PTR info) {
  return Guarded("C_GetSessionInfo", [&]() -> CK_RV {
    Session s;
    CK_RV rv = WithTokens([&](Module& m) {
      std::shared_ptr<const Token> t;
      return SessionToken(m, h, &s, &t);
    });
    if (rv != CKR_OK) return rv;
    if (!info) return CKR_ARGUMENTS_BAD;
    std::memset(info, 0, sizeof *info);
    info->slotID = s.slot;
    info->state = (s.flags & CKF_RW_SESSION) ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
    info->flags = s.flags;
    return CKR_OK;
  });
}

}  // namespace simtoken
