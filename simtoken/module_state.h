// Process-wide state of the simulated module: whether C_Initialize ran, this process's sessions, the fault
// rules it read (again at the next call whenever tokenctl changes them), its registration as an event waiter, and its copy of the tokens. That copy is used only
// while no other process has finished a change since it was read (token_cache.h), so changes made by
// other processes still show at the next call.
#pragma once

#include "store.h"
#include "token_cache.h"

#include <map>
#include <memory>
#include <mutex>
#include <new>

namespace simtoken {

struct Session {
  CK_SLOT_ID slot = 0;
  CK_FLAGS flags = 0;
  uint32_t insertion = 0;  // the token's insertion count when the session was opened
  bool finding = false;
  std::vector<CK_OBJECT_HANDLE> found;
  size_t next = 0;
};

// One registration per C_Initialize. Shared with a thread waiting in the event entry, so that C_Finalize can
// drop it while the waiter still holds the handles it waits on.
struct WaitContext {
  std::shared_ptr<Store> store;
  vd::UniqueKernelHandle wake;       // set by any process that raises an event (manual reset)
  vd::UniqueKernelHandle finalized;  // set by C_Finalize
  std::wstring id;
  uint64_t cursor = 0;               // index of the next event to deliver; guarded by Module::mu
};

struct FaultState {
  FaultRule rule;
  uint32_t calls = 0;
  uint32_t fired = 0;
};

// Lock order everywhere in the module: the store's named mutex first, then Module::mu.
struct Module {
  std::mutex mu;
  bool initialized = false;
  std::shared_ptr<Store> store;
  TokenCache cache;
  // A new session takes the lowest free handle, as many real modules do: a handle closed twice then
  // closes whatever session took its number meanwhile.
  std::map<CK_SESSION_HANDLE, Session> sessions;
  int sessionEntry = -1;  // this copy's line in the shared session table
  std::vector<FaultState> faults;
  uint32_t faultsVersion = 0;  // the shared change count the rules above were read at
  // The C_Initialize rule counts across initialisations of the process (the others restart with each),
  // so that "--times 1" lets the next attempt succeed. Reset when the rule changes.
  FaultState initFault;
  std::shared_ptr<WaitContext> wait;
};

Module& TheModule();

// The store of an initialised module, or null.
std::shared_ptr<Store> CurrentStore();
// True (with *rv) when an injected fault makes this call of `function` fail. *delayMs: the added latency.
bool InjectedFault(const char* function, CK_RV* rv, DWORD* delayMs);

// Runs a C_ or E_ function body: the added latency and injected faults first (unless `function` is null),
// and no exception leaves it.
template <typename F>
CK_RV Guarded(const char* function, F&& body) noexcept {
  try {
    CK_RV rv;
    if (function) {
      DWORD delayMs = 0;
      bool fault = InjectedFault(function, &rv, &delayMs);
      // The token's round trip comes before its answer, whatever the answer is.
      if (delayMs) ::Sleep(delayMs);
      if (fault) return rv;
    }
    return body();
  } catch (const std::bad_alloc&) {
    return CKR_HOST_MEMORY;
  } catch (...) {
    return CKR_GENERAL_ERROR;
  }
}

// For a call that needs the slot's token present: CKR_TOKEN_NOT_PRESENT for a slot that holds no token (or
// only a damaged file), CKR_DEVICE_REMOVED for one that was pulled.
CK_RV PresentToken(const SlotState& slot, std::shared_ptr<const Token>* token);

// Finds the session and its token in the cache. A session outlives neither its token's removal nor its
// reset. Caller holds Module::mu, with the cache current.
CK_RV SessionToken(const Module& m, CK_SESSION_HANDLE h, Session* copy, std::shared_ptr<const Token>* token);

// Tells the shared session table how many sessions this copy holds. Caller holds Module::mu.
void PublishSessionCount(Module& m);

// Runs use(Module&) under Module::mu with the cache refreshed. The caller holds the store lock (the calls
// that write); CKR_CRYPTOKI_NOT_INITIALIZED when the module was finalised in the meantime.
template <typename F>
CK_RV WithTokensLocked(const std::shared_ptr<Store>& store, F&& use) {
  Module& m = TheModule();
  std::lock_guard<std::mutex> g(m.mu);
  if (!m.initialized || m.store != store) return CKR_CRYPTOKI_NOT_INITIALIZED;
  m.cache.Refresh(*store);
  return use(m);
}

// The same for the calls that only read: from memory when nothing changed since the cache was filled, else
// under the store lock, refreshed. `use` runs under Module::mu and must not block.
template <typename F>
CK_RV WithTokens(F&& use) {
  std::shared_ptr<Store> store = CurrentStore();
  if (!store) return CKR_CRYPTOKI_NOT_INITIALIZED;
  Module& m = TheModule();
  {
    std::lock_guard<std::mutex> g(m.mu);
    if (!m.initialized || m.store != store) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (m.cache.Current(store->shared())) return use(m);
  }
  Store::Lock lock(*store);
  return WithTokensLocked(store, use);
}

void CopyPadded(CK_UTF8CHAR* field, size_t size, std::string_view text);

}  // namespace simtoken
