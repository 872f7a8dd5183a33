#include "token_queries.h"

#include <cstddef>
#include <cstring>

#include "own_module.h"

#if !defined(_WIN64)
// The vendor reads the block by offset; these are the offsets of the 32-bit product.
static_assert(sizeof(TokenInitParams) == 51);
static_assert(offsetof(TokenInitParams, label) == 2 && offsetof(TokenInitParams, soPin) == 10);
static_assert(offsetof(TokenInitParams, userPin) == 14 && offsetof(TokenInitParams, maxSoTries) == 19);
static_assert(offsetof(TokenInitParams, totalPublicMemory) == 22);
static_assert(offsetof(TokenInitParams, totalPrivateMemory) == 26 && offsetof(TokenInitParams, reserved3) == 30);
#endif

namespace tq {
namespace {

constexpr char kSoPin[] = "pellam";
constexpr char kDefaultUserPin[] = "246802";
// The label a re-initialised token gets, in the ANSI code page of the product's market (GBK).
constexpr char kInitLabelAnsi[] = "\xcd\xf8\xd2\xf8\xb0\xb2\xc8\xab\xc1\xee\xc5\xc6\xc9\xe8\xb1\xb8";

// The label travels as UTF-8; an unconvertible text becomes the empty label rather than an error.
std::string InitLabelUtf8() {
  int wide = ::MultiByteToWideChar(CP_ACP, 0, kInitLabelAnsi, -1, nullptr, 0);
  if (wide <= 0) return {};
  std::wstring w(static_cast<size_t>(wide), L'\0');
  if (::MultiByteToWideChar(CP_ACP, 0, kInitLabelAnsi, -1, w.data(), wide) <= 0) return {};
  int bytes = ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string u(static_cast<size_t>(bytes), '\0');
  if (::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, u.data(), bytes, nullptr, nullptr) <= 0) return {};
  u.resize(std::strlen(u.c_str()));
  return u;
}

// The label as the user knows it: blank-padded to 32 bytes by the module.
std::string TrimmedLabel(const CK_TOKEN_INFO& info) {
  std::string label(reinterpret_cast<const char*>(info.label), sizeof info.label);
  const size_t end = label.find_last_not_of(std::string(" \0", 2));
  label.resize(end == std::string::npos ? 0 : end + 1);
  return label;
}

// The folder of the module this code is linked into (npLumora.dll or lumora_host.exe), with its separator.
std::string OwnFolder() {
  char path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameA(OwnModule(), path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::string folder(path, n);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

}  // namespace

int TokenQueries::Load() {
  vd::CsLock lock(lock_);
  if (loadTried_) return module_.IsBound() && module_.Aux() ? 0 : kLoadFailed;
  loadTried_ = true;
  // A browser loads the plug-in from the installation folder, but the system looks for the module beside
  // the browser and in the system folders: one installed beside this code is found in its folder then.
  if (module_.Bind(moduleFile_) != CKR_OK && module_.Bind(OwnFolder() + moduleFile_) != CKR_OK) return kLoadFailed;
  CK_RV rv = fl()->C_Initialize(nullptr);
  if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
    module_.Release();
    return kLoadFailed;
  }
  initialisedHere_ = rv == CKR_OK;
  // Without the vendor table the read queries still work; only InitKey needs it.
  return module_.BindAux() == CKR_OK ? 0 : kLoadFailed;
}

void TokenQueries::Unload() {
  vd::CsLock lock(lock_);
  if (module_.IsBound() && initialisedHere_) fl()->C_Finalize(nullptr);
  initialisedHere_ = false;
  loadTried_ = false;
  module_.Release();
}

bool TokenQueries::EnsureBound() {
  if (module_.IsBound()) return true;
  lastResult_ = -1;
  return false;
}

bool TokenQueries::ListTokenSlots(CK_ULONG* count) {
  *count = 0;
  std::memset(tokenInfos_, 0, sizeof tokenInfos_);
  CK_ULONG n = kMaxTokens;
  if (fl()->C_GetSlotList(CK_TRUE, nullptr, &n) != CKR_OK || n > kMaxTokens || n == 0) return false;
  // A module must not report more slots than the list it was given holds; if it does, trust nothing.
  if (fl()->C_GetSlotList(CK_TRUE, slots_, &n) != CKR_OK || n == 0 || n > kMaxTokens) return false;
  *count = n;
  return true;
}

int TokenQueries::GetKeyCount() {
  vd::CsLock lock(lock_);
  tokenCount_ = 0;
  if (!EnsureBound()) {
    lastResult_ = 0;
    return 0;
  }
  CK_ULONG n = 0;
  if (!ListTokenSlots(&n)) return 0;
  tokenCount_ = static_cast<int>(n);
  for (CK_ULONG i = 0; i < n; ++i) fl()->C_GetTokenInfo(slots_[i], &tokenInfos_[i]);
  lastResult_ = static_cast<int>(n);
  return static_cast<int>(n);
}

int TokenQueries::GetUKeySN(char* out, size_t outSize) {
  if (!out || outSize == 0) return -1;
  vd::CsLock lock(lock_);
  out[0] = '\0';
  GetKeyCount();
  if (tokenCount_ != 1) return -1;
  const CK_CHAR* serial = tokenInfos_[0].serialNumber;
  // A serial whose 16th byte is zero is a 12-character one; otherwise all 16 bytes count, blanks included.
  size_t len = serial[15] == 0 ? 12 : 16;
  len = strnlen(reinterpret_cast<const char*>(serial), len);
  if (len >= outSize) len = outSize - 1;
  std::memcpy(out, serial, len);
  out[len] = '\0';
  return 0;
}

void TokenQueries::FindToken(const char* serial, int length) {
  selectedSlot_ = 0;
  selectedSession_ = 0;
  if (!EnsureBound() || !serial || length <= 0) return;
  CK_ULONG n = 0;
  if (!ListTokenSlots(&n)) return;
  tokenCount_ = static_cast<int>(n);
  for (CK_ULONG i = 0; i < n; ++i) {
    CK_TOKEN_INFO info{};
    fl()->C_GetTokenInfo(slots_[i], &info);
    char trimmed[sizeof info.serialNumber + 1] = {};
    std::memcpy(trimmed, info.serialNumber, sizeof info.serialNumber);
    for (size_t k = sizeof info.serialNumber; k > 0 && trimmed[k - 1] == ' '; --k) trimmed[k - 1] = '\0';
    // The length is compared first, so a long page text never reads past the 16 serial bytes.
    if (strnlen(trimmed, sizeof info.serialNumber) != static_cast<size_t>(length)) continue;
    if (std::memcmp(serial, info.serialNumber, static_cast<size_t>(length)) != 0) continue;
    // This session is not given an owner: InitKey closes every session of the slot before the vendor
    // call, this one included.
    CK_SESSION_HANDLE session = 0;
    if (fl()->C_CloseAllSessions(slots_[i]) != CKR_OK) return;
    if (fl()->C_OpenSession(slots_[i], CKF_RW_SESSION | CKF_SERIAL_SESSION, nullptr, nullptr, &session) !=
        CKR_OK) {
      return;
    }
    selectedSlot_ = slots_[i];
    selectedSession_ = session;
    return;
  }
}

int TokenQueries::InitKey(const char* serial, int length, const EraseConsent& consent) {
  // Every way out but the vendor's success answers kInitKeyFailed.
  vd::CsLock lock(lock_);
  lastResult_ = kInitKeyFailed;
  if (asking_ || !consent) return kInitKeyFailed;
  const std::string label = InitLabelUtf8();
  TokenInitParams params;
  std::memset(&params, 0, sizeof params);
  FindToken(serial, length);
  if (!selectedSession_) return lastResult_ = kInitKeyFailed;
  // Every session of the slot is closed before the vendor call, also the one the search opened, so no
  // path out of here leaves a session behind.
  fl()->C_CloseAllSessions(selectedSlot_);
  selectedSession_ = 0;
  if (!module_.Aux() || !module_.Aux()->initToken) return kInitKeyFailed;
  // The question may run a message loop that brings other calls here: keep what this one found locally.
  const CK_SLOT_ID slot = selectedSlot_;
  CK_TOKEN_INFO info{};
  if (fl()->C_GetTokenInfo(slot, &info) != CKR_OK) return kInitKeyFailed;
  EraseCandidate candidate{TrimmedLabel(info), std::string(serial, static_cast<size_t>(length))};
  bool agreed = false;
  asking_ = true;
  ::LeaveCriticalSection(&lock_.get());
  try {
    agreed = consent(candidate);
  } catch (...) {
    agreed = false;  // no exception leaves the browser's or the host's call
  }
  ::EnterCriticalSection(&lock_.get());
  asking_ = false;
  if (!agreed) return lastResult_ = kInitKeyFailed;
  // The user agreed to erase the token the question named: the same serial, label and model.
  CK_TOKEN_INFO now{};
  if (!fl() || fl()->C_GetTokenInfo(slot, &now) != CKR_OK ||
      std::memcmp(now.serialNumber, info.serialNumber, sizeof info.serialNumber) != 0 ||
      std::memcmp(now.label, info.label, sizeof info.label) != 0 ||
      std::memcmp(now.model, info.model, sizeof info.model) != 0) {
    return lastResult_ = kInitKeyFailed;
  }
  fl()->C_CloseAllSessions(slot);
  params.firmwareMajor = now.firmwareVersion.major;
  params.firmwareMinor = now.firmwareVersion.minor;
  params.label = label.c_str();
  params.soPin = kSoPin;
  params.userPin = kDefaultUserPin;
  params.reserved1 = 0;
  params.maxSoTries = 6;
  params.maxUserTries = 6;
  params.totalPublicMemory = static_cast<uint32_t>(now.ulTotalPublicMemory);
  params.totalPrivateMemory = static_cast<uint32_t>(now.ulTotalPrivateMemory);
  AuxFunctionList* aux = module_.Aux();
  lastResult_ = aux && aux->initToken && aux->initToken(slot, &params) == CKR_OK ? 0 : kInitKeyFailed;
  return lastResult_;
}

int TokenQueries::GetAllCertCn(char* out, size_t outSize, int* count) {
  return AnswerList(EntryKind::kDisplayName, out, outSize, count);
}

int TokenQueries::GetSN(char* out, size_t outSize, int* count) {
  return AnswerList(EntryKind::kSerialNumber, out, outSize, count);
}

int TokenQueries::AnswerList(EntryKind kind, char* out, size_t outSize, int* count) {
  if (count) *count = 0;
  if (!out || outSize == 0) return -1;
  vd::CsLock lock(lock_);
  out[0] = '\0';
  std::vector<std::string> entries;
  if (!ListCertificates(kind, entries)) return -1;
  int joined = JoinEntries(entries, out, outSize);
  if (count) *count = joined;
  return 0;
}

}  // namespace tq
