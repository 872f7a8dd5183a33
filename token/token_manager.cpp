#include "token_manager.h"

#include <algorithm>
#include <cstdio>

#include "home_page_flag.h"
#include "registry.h"
#include "text.h"

namespace vd {

// Binding, monitor and the token list's queries; reading tokens and their events live in token_list.cpp.

TokenManager::TokenManager(std::wstring moduleFile)
    : moduleFile_(std::move(moduleFile)), cspName_(kProduct.cspName), registrar_(module_, cspName_, tokens_) {
  // The list's lock lives as long as the object, so queries before Load or after Unload stay safe.
  monitorReady_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

TokenManager::~TokenManager() {
  // Unbinding finalises the module first; a monitor still waiting in it would otherwise never return.
  Unload();
  StopMonitor(INFINITE);
}

CK_RV TokenManager::Load() {
  if (initialised_) return CKR_OK;
  if (!module_.IsBound()) {
    cspName_ = kProduct.cspName;
    // Entries left behind by a run that ended without cleaning up (a crash, a kill) go before anything new.
    PurgeRegistrations();
    CK_RV rv = module_.Bind(moduleFile_);
    if (rv != CKR_OK) return rv;
  }
  const CK_RV rv = module_.Functions()->C_Initialize(nullptr);
  if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) return rv;
  initialised_ = true;
  ownInitialise_ = rv == CKR_OK;
  EnumerateTokens(true);
  return CKR_OK;
}

CK_RV TokenManager::Unload() {
  if (!module_.IsBound()) return CKR_OK;
  CK_FUNCTION_LIST* fl = module_.Functions();
  if (!fl) return CKR_GENERAL_ERROR;
  if (initialised_ && ownInitialise_) {
    fl->C_Finalize(nullptr);  // ends the monitor's pending wait
    StopMonitor(INFINITE);
  } else {
    // Another user's initialisation is not ours to end, and so neither is the wait it keeps pending.
    constexpr DWORD kForeignWaitMs = 1000;
    StopMonitor(kForeignWaitMs);
  }
  initialised_ = false;
  module_.Release();
  return CKR_OK;
}

CK_RV TokenManager::StartMonitor(HWND window, UINT message) {
  // One monitor at most: a second thread would post every event twice.
  if (monitor_.IsRunning()) return CKR_OK;
  window_ = window;
  message_ = message;
  ::ResetEvent(monitorReady_.get());
  if (monitor_.Start(&TokenManager::MonitorRoutine, nullptr, this) != 0) return CKR_GENERAL_ERROR;
  // Wait until the thread reports running (or gave up), so that an immediate second call sees it.
  ::WaitForSingleObject(monitorReady_.get(), 10000);
  return CKR_OK;
}

void TokenManager::StopMonitor(DWORD timeoutMs) { monitor_.Stop(timeoutMs); }

unsigned __stdcall TokenManager::MonitorRoutine(void* selfSlot) {
  // A failure the entry gives this many times in a row is no hiccup: from then on the slots are polled.
  constexpr int kSameFailuresBeforePolling = 10;
  WorkerThread* self = WorkerThread::FromArg(selfSlot);
  auto* manager = static_cast<TokenManager*>(self->UserData());
  AuxFunctionList* aux = manager->module_.Aux();
  if (!aux || !aux->waitForEvent) {
    ::SetEvent(manager->monitorReady_.get());
    return 0;
  }
  self->Begin();
  ::SetEvent(manager->monitorReady_.get());
  CK_RV lastFailure = CKR_OK;
  int sameFailures = 0;
  bool polling = false;
  std::vector<CK_SLOT_ID> known;
  while (!self->StopRequested()) {
    CK_SLOT_ID slot = 0;
    CK_ULONG code = 0, data = 0;
    CK_RV rv = aux->waitForEvent(0, &slot, &code, &data, nullptr);
    if (self->StopRequested()) break;
    if (rv == CKR_OK) {
      sameFailures = 0;
      ::PostMessageW(manager->window_, manager->message_, TokenEventWParam(slot, code), static_cast<LPARAM>(data));
      ::Sleep(0);
      continue;
    }
    if (rv == CKR_CRYPTOKI_NOT_INITIALIZED) break;
    sameFailures = rv == lastFailure ? sameFailures + 1 : 1;
    lastFailure = rv;
    if (sameFailures < kSameFailuresBeforePolling) {
      // A module that fails now and then must not cost a whole processor; the next call may well succeed.
      ::Sleep(20);
      continue;
    }
    if (!polling) {
      polling = true;
      char line[96];
      std::snprintf(line, sizeof line, "token monitor: the event wait keeps failing (0x%08lX), polling the slots\n",
                    static_cast<unsigned long>(rv));
      ::OutputDebugStringA(line);
      ::PostMessageW(manager->window_, manager->message_, TokenEventWParam(0, kMonitorPollingCode),
                     static_cast<LPARAM>(rv));
      manager->WithTokens([&](const std::vector<TokenRecord>& tokens) {
        for (const TokenRecord& t : tokens) known.push_back(t.slot);
      });
    }
    // The entry is asked again after every round, so that a module that recovers is heard from at once.
    if (!manager->PollSlots(self, &known)) break;
  }
  return self->End(0);
}

bool TokenManager::PollSlots(WorkerThread* self, std::vector<CK_SLOT_ID>* known) {
  constexpr DWORD kPollMs = 1000;
  constexpr DWORD kStepMs = 50;
  for (DWORD waited = 0; waited < kPollMs; waited += kStepMs) {
    if (self->StopRequested()) return false;
    ::Sleep(kStepMs);
  }
  std::vector<CK_SLOT_ID> present;
  const CK_RV rv = ListPresentSlots(module_.Functions(), &present);
  if (rv == CKR_CRYPTOKI_NOT_INITIALIZED) return false;
  if (rv != CKR_OK) return true;
  auto has = [](const std::vector<CK_SLOT_ID>& in, CK_SLOT_ID s) { return std::find(in.begin(), in.end(), s) != in.end(); };
  for (CK_SLOT_ID s : present)
    if (!has(*known, s)) ::PostMessageW(window_, message_, TokenEventWParam(s, TOKEN_EVT_INSERTED), 0);
  for (CK_SLOT_ID s : *known)
    if (!has(present, s)) ::PostMessageW(window_, message_, TokenEventWParam(s, TOKEN_EVT_REMOVED), 0);
  *known = std::move(present);
  return true;
}

TokenRecord* TokenManager::FindRecord(CK_SLOT_ID slot) {
  auto it = std::find_if(tokens_.begin(), tokens_.end(), [&](const TokenRecord& t) { return t.slot == slot; });
  return it == tokens_.end() ? nullptr : &*it;
}


bool TokenManager::HasToken(CK_SLOT_ID slot) const {
  CsLock lock(lock_);
  return std::any_of(tokens_.begin(), tokens_.end(), [&](const TokenRecord& t) { return t.slot == slot; });
}

bool TokenManager::HasAnyToken() const {
  CsLock lock(lock_);
  return !tokens_.empty();
}

void TokenManager::WithTokens(const std::function<void(const std::vector<TokenRecord>&)>& reader) const {
  CsLock lock(lock_);
  reader(tokens_);
}

std::vector<TokenRecord> TokenManager::Tokens() const {
  CsLock lock(lock_);
  return tokens_;
}

std::optional<TokenRecord> TokenManager::FindToken(CK_SLOT_ID slot) const {
  CsLock lock(lock_);
  for (const TokenRecord& t : tokens_)
    if (t.slot == slot) return t;
  return std::nullopt;
}

bool TokenManager::IsPinChangeRequired(CK_SLOT_ID slot) {
  CK_FUNCTION_LIST* fl = module_.Functions();
  if (!fl) return false;
  CK_TOKEN_INFO info{};
  return fl->C_GetTokenInfo(slot, &info) == CKR_OK && (info.flags & CKF_USER_PIN_TO_BE_CHANGED) != 0;
}

CK_RV TokenManager::RefreshLabel(CK_SLOT_ID slot) {
  CsLock lock(lock_);
  TokenRecord* record = FindRecord(slot);
  if (!record) return CKR_ARGUMENTS_BAD;
  CK_FUNCTION_LIST* fl = module_.Functions();
  if (!fl) return CKR_GENERAL_ERROR;
  CK_TOKEN_INFO info{};
  CK_RV rv = fl->C_GetTokenInfo(slot, &info);
  if (rv != CKR_OK) return rv;
  record->label = Utf8ToWide(FixedField(info.label, sizeof info.label));
  return CKR_OK;
}

void TokenManager::RegisterTokenCertificates(CK_SLOT_ID slot, const TokenKeys* keys) {
  CsLock lock(lock_);
  registrar_.RegisterTokenCertificates(slot, keys);
}

void TokenManager::UnregisterTokenCertificates(CK_SLOT_ID slot, bool emptyList) {
  CsLock lock(lock_);
  registrar_.UnregisterTokenCertificates(slot, emptyList);
}

bool TokenManager::PurgeRegistrations() { return registrar_.PurgeRegistrations(); }

bool TokenManager::IsHomePageEnabled() { return ReadPopFlag().value_or(false); }

bool TokenManager::SetHomePageEnabled(bool enabled) { return WritePopFlag(enabled); }

void TokenManager::LaunchHomePage(CK_SLOT_ID slot) {
  if (!IsHomePageEnabled() || !HasToken(slot)) return;
  // Both values were read into 260-character buffers; a longer one never fitted and counts as absent.
  auto address = RegReadString(HKEY_LOCAL_MACHINE, kProduct.installKey, L"http Address");
  if (!address || address->empty() || address->size() >= MAX_PATH) return;
  auto programs =
      RegReadString(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir");
  if (!programs || programs->empty() || programs->size() >= MAX_PATH) return;
  std::wstring commandLine = *programs + L"\\Internet Explorer\\IEXPLORE.EXE " + *address;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
  }
}

}  // namespace vd
