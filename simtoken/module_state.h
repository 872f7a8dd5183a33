// Process-wide state of the simulated module: whether C_Initialize ran, this process's sessions, the fault
// rules it read, and its registration as an event waiter. Token content is never cached here: every call
// reads the slot's file, so changes made by other processes show at once.
#pragma once

#include "store.h"

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

struct Module {
  std::mutex mu;
  bool initialized = false;
  std::shared_ptr<Store> store;
  std::map<CK_SESSION_HANDLE, Session> sessions;
  CK_SESSION_HANDLE nextSession = 1;
  std::vector<FaultState> faults;
  // The C_Initialize rule counts across initialisations of the process (the others restart with each),
  // so that "--times 1" lets the next attempt succeed. Reset when the rule changes.
  FaultState initFault;
  std::shared_ptr<WaitContext> wait;
};

Module& TheModule();

// The store of an initialised module, or null.
std::shared_ptr<Store> CurrentStore();
// True (with *rv) when an injected fault makes this call of `function` fail.
bool InjectedFault(const char* function, CK_RV* rv);

// Runs a C_ or E_ function body: injected faults first (unless `function` is null), and no exception
// leaves it.
template <typename F>
CK_RV Guarded(const char* function, F&& body) noexcept {
  try {
    CK_RV rv;
    if (function && InjectedFault(function, &rv)) return rv;
    return body();
  } catch (const std::bad_alloc&) {
    return CKR_HOST_MEMORY;
  } catch (...) {
    return CKR_GENERAL_ERROR;
  }
}

// Loads the slot's token for a call that needs it present: CKR_TOKEN_NOT_PRESENT for a slot that holds no
// token (or only a damaged file), CKR_DEVICE_REMOVED for one that was pulled. Caller holds the store lock.
CK_RV LoadPresentToken(const Store& store, CK_SLOT_ID slot, Token* token);

// Finds the session and loads its token under the store lock held by the caller.
CK_RV SessionToken(const Store& store, CK_SESSION_HANDLE h, Session* copy, Token* token);

// The same for the calls that only read: takes the current store and its lock for the read alone.
CK_RV ReadSessionToken(CK_SESSION_HANDLE h, Session* copy, Token* token);

void CopyPadded(CK_UTF8CHAR* field, size_t size, std::string_view text);

}  // namespace simtoken
