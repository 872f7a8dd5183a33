// The one object through which vardeck reaches tokens: binds the vendor module, keeps the list of present
// tokens with their certificates, registers those certificates in the user's stores and runs the monitor
// thread that turns the module's events into TokenEventMessage posts.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "expiry.h"
#include "handles.h"
#include "module_binding.h"
#include "pkcs11.h"
#include "pkcs11_session.h"
#include "product.h"
#include "store_registrar.h"
#include "token_types.h"
#include "worker_thread.h"

namespace vd {

class TokenManager {
 public:
  // Tests bind other module files; the product always uses kProduct.moduleFile.
  explicit TokenManager(std::wstring moduleFile = kProduct.moduleFile);
  ~TokenManager();
  TokenManager(const TokenManager&) = delete;
  TokenManager& operator=(const TokenManager&) = delete;

  // Purges stale registrations and binds the module (once), initialises it, then EnumerateTokens(true).
  // Bound and initialised are two states: a failed C_Initialize is returned with the module kept bound,
  // and the next Load tries it again. CKR_CRYPTOKI_ALREADY_INITIALIZED (another user in this process)
  // counts as initialised. An enumeration that fails is no load failure: Load still returns 0.
  CK_RV Load();
  // Ends our use of the module: C_Finalize (which ends the monitor's wait) only when we initialised it,
  // since another user of the module in this process still needs it; then the monitor, then the module.
  CK_RV Unload();
  bool IsLoaded() const { return initialised_; }

  // 0 when the monitor runs (also when it already ran), CKR_GENERAL_ERROR when it cannot start.
  CK_RV StartMonitor(HWND window, UINT message);
  void StopMonitor(DWORD timeoutMs);
  bool IsMonitorRunning() const { return monitor_.IsRunning(); }

  // Reads every present token again into a new list that replaces the old one, registering the
  // certificates and removing the registrations of those the token no longer has. `unread` (when given)
  // receives the present tokens that could not be read whole: read them again with OnTokenInserted. A slot
  // list that cannot be had leaves the list as it was and returns that failure (*slotsListed false).
  CK_RV EnumerateTokens(bool homePage, std::vector<CK_SLOT_ID>* unread = nullptr, bool* slotsListed = nullptr);
  // Reads the token into the list. With `keys`, its private keys are read in the same session, for the
  // registration that follows.
  // *complete (when asked) tells whether every certificate could be read.
  // The slot's and token's information, when given, were read by the caller just before.
  CK_RV AddToken(CK_SLOT_ID slot, TokenKeys* keys = nullptr, bool* complete = nullptr,
                 const CK_SLOT_INFO* knownSlot = nullptr, const CK_TOKEN_INFO* knownToken = nullptr);
  // AddToken without the listing: the record as read, for the caller to list.
  CK_RV ReadToken(CK_SLOT_ID slot, TokenKeys* keys, bool* complete, const CK_SLOT_INFO* knownSlot,
                  const CK_TOKEN_INFO* knownToken, TokenRecord* out);
  CK_RV ReadTokenCertificates(TokenRecord& record, TokenKeys* keys = nullptr, bool* complete = nullptr);

  // What an insertion event came to: the token listed and read whole (also when it already was), no token
  // to take (the slot is empty again), a read that failed (not listed), or a token listed with what could
  // be read but not read whole (nothing of it filed). The caller reads the last two again later; a token
  // listed in part is read again by the next call, and `lastAttempt` lists what a failed read got.
  enum class InsertOutcome { kListed, kNotTaken, kReadFailed, kListedPartly };
  InsertOutcome OnTokenInserted(CK_SLOT_ID slot, bool lastAttempt = false);
  void OnTokenRemoved(CK_SLOT_ID slot);
  // False when a call failed for a passing reason: the token is marked not read whole, for the caller to
  // read it again (the certificate may be on it).
  bool OnObjectCreated(CK_SLOT_ID slot, CK_OBJECT_HANDLE handle);
  void OnObjectDestroyed(CK_SLOT_ID slot, CK_OBJECT_HANDLE handle);
  CK_RV RefreshLabel(CK_SLOT_ID slot);

  // What the insertion shows for each certificate due to expire; without one nothing is shown.
  void SetExpiryPrompt(ExpiryPrompt prompt) { expiryPrompt_ = std::move(prompt); }

  void LaunchHomePage(CK_SLOT_ID slot);
  // "PopFlag" under the installation key; absent means off, and the key is never created.
  static bool IsHomePageEnabled();
  static bool SetHomePageEnabled(bool enabled);

  bool IsPinChangeRequired(CK_SLOT_ID slot);
  bool HasToken(CK_SLOT_ID slot) const;
  bool HasAnyToken() const;

  // Read access to the token list: the callback runs under the list's lock (keep it short, show no
  // windows); Tokens() and FindToken() return copies.
  void WithTokens(const std::function<void(const std::vector<TokenRecord>&)>& reader) const;
  std::vector<TokenRecord> Tokens() const;
  std::optional<TokenRecord> FindToken(CK_SLOT_ID slot) const;

  // Store registration of a whole token (see StoreRegistrar).
  void RegisterTokenCertificates(CK_SLOT_ID slot, const TokenKeys* keys = nullptr);
  void UnregisterTokenCertificates(CK_SLOT_ID slot, bool emptyList);
  // Deletes every MY registration made with the CSP name; false only when MY cannot be opened.
  bool PurgeRegistrations();

  // For the token operations (PIN, label, facts): null while unbound.
  CK_FUNCTION_LIST* Functions() const { return module_.Functions(); }
  AuxFunctionList* AuxFunctions() const { return module_.Aux(); }
  const std::wstring& CspName() const { return cspName_; }

 private:
  static unsigned __stdcall MonitorRoutine(void* selfSlot);
  // The monitor's fallback when the event entry keeps failing: a second's pause, then the present slots
  // compared with `known` and the differences posted as insertions and removals. False when the monitor
  // is to end.
  bool PollSlots(WorkerThread* self, std::vector<CK_SLOT_ID>* known);
  // C_GetSlotList for the present slots, count then list, asked again when they disagree.
  static CK_RV ListPresentSlots(CK_FUNCTION_LIST* fl, std::vector<CK_SLOT_ID>* slots);
  // Unregisters what `before` had filed that `now` (the same token read again) no longer holds. Caller
  // holds the lock.
  void ForgetVanished(const TokenRecord& before, const TokenRecord& now);
  TokenRecord* FindRecord(CK_SLOT_ID slot);
  void DropRecord(CK_SLOT_ID slot);
  // The insertion's own work once its token is read whole: filing, the expiry check, the home page.
  void TakeUp(CK_SLOT_ID slot, const CK_TOKEN_INFO& info, const TokenKeys& keys, bool greet);
  // Removes every MY entry of ours whose container path names the slot, and registers again the copies
  // other tokens hold of what went.
  void PurgeSlotRegistrations(CK_SLOT_ID slot, const std::wstring& slotDescription);
  CK_RV ReadCertificate(CK_SESSION_HANDLE session, CK_SLOT_ID slot, CK_OBJECT_HANDLE handle,
                        TokenCertificate* out);

  std::wstring moduleFile_;
  ModuleBinding module_;
  bool initialised_ = false;
  bool ownInitialise_ = false;  // C_Initialize was ours, so C_Finalize is too
  std::wstring cspName_;
  HWND window_ = nullptr;
  UINT message_ = 0;
  WorkerThread monitor_;
  UniqueKernelHandle monitorReady_;
  mutable CriticalSection lock_;
  ExpiryPrompt expiryPrompt_;
  std::vector<TokenRecord> tokens_;
  // While EnumerateTokens builds its new list, the slots whose object events met the old one: the new
  // read may have missed what they changed. Guarded by the lock.
  bool enumerating_ = false;
  std::vector<CK_SLOT_ID> touchedDuringEnumeration_;
  // Tokens an insertion listed in part: their expiry check and home page wait for the read that gets them
  // whole. Only insertions and removals touch it, on the window's thread.
  std::vector<CK_SLOT_ID> greetingsDue_;
  StoreRegistrar registrar_;
};

}  // namespace vd
