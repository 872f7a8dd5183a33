#include "store.h"

#include <cstdio>
#include <cstring>

namespace simtoken {
namespace {

constexpr size_t kEventRecord = 16;
constexpr uint32_t kEventCheck = 0xA5C3E10Fu;

uint64_t Fnv1a64(const std::wstring& s) {
  uint64_t h = 14695981039346656037ull;
  for (wchar_t c : s) {
    h = (h ^ static_cast<uint16_t>(c)) * 1099511628211ull;
  }
  return h;
}

std::wstring EnvVar(const wchar_t* name) {
  wchar_t buf[2048];
  DWORD n = ::GetEnvironmentVariableW(name, buf, 2048);
  if (n == 0 || n >= 2048) return {};
  return std::wstring(buf, n);
}

std::wstring ResolveDir() {
  std::wstring dir = EnvVar(L"SIMTOKEN_DIR");
  if (dir.empty()) {
    std::wstring base = EnvVar(L"LOCALAPPDATA");
    if (base.empty()) return {};
    dir = base + L"\\SimToken";
  }
  wchar_t full[2048];
  DWORD n = ::GetFullPathNameW(dir.c_str(), 2048, full, nullptr);
  if (n == 0 || n >= 2048) return {};
  dir.assign(full, n);
  while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
  return dir;
}

// Creates the folder and any missing parents; true when it exists afterwards.
bool MakeFolders(const std::wstring& dir) {
  for (size_t pos = dir.find_first_of(L"\\/", 3); pos != std::wstring::npos;
       pos = dir.find_first_of(L"\\/", pos + 1))
    ::CreateDirectoryW(dir.substr(0, pos).c_str(), nullptr);
  ::CreateDirectoryW(dir.c_str(), nullptr);
  DWORD attrs = ::GetFileAttributesW(dir.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetU32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void DebugLine(const std::wstring& text) { ::OutputDebugStringW((L"simtoken: " + text + L"\n").c_str()); }

bool ReadWholeFile(const std::wstring& path, std::vector<uint8_t>* out) {
  out->clear();
  vd::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
  if (!f) return false;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(f.get(), &size) || size.QuadPart > (256LL << 20)) return false;
  out->resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  if (!out->empty() && !::ReadFile(f.get(), out->data(), static_cast<DWORD>(out->size()), &got, nullptr))
    return false;
  out->resize(got);
  return true;
}

bool WriteFileAtomic(const std::wstring& path, const void* data, size_t size) {
  std::wstring tmp = path + L".tmp" + std::to_wstring(::GetCurrentProcessId());
  {
    vd::UniqueFile f(::CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!f) return false;
    DWORD put = 0;
    if (!::WriteFile(f.get(), data, static_cast<DWORD>(size), &put, nullptr) || put != size ||
        !::FlushFileBuffers(f.get())) {
      f.reset();
      ::DeleteFileW(tmp.c_str());
      return false;
    }
  }
  if (!::MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ::DeleteFileW(tmp.c_str());
    return false;
  }
  return true;
}

std::unique_ptr<Store> Store::Open(std::wstring* error) {
  std::unique_ptr<Store> s(new Store);
  s->dir_ = ResolveDir();
  if (s->dir_.empty()) {
    *error = L"no state folder: neither SIMTOKEN_DIR nor LOCALAPPDATA is usable";
    return nullptr;
  }
  if (!MakeFolders(s->dir_)) {
    *error = L"cannot create the state folder " + s->dir_;
    return nullptr;
  }
  ::CreateDirectoryW((s->dir_ + L"\\waiters").c_str(), nullptr);
  std::wstring upper = s->dir_;
  ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  wchar_t hash[32];
  swprintf(hash, 32, L"%016llx", static_cast<unsigned long long>(Fnv1a64(upper)));
  s->prefix_ = std::wstring(L"Local\\SimToken-") + hash;
  s->mutex_.reset(::CreateMutexW(nullptr, FALSE, (s->prefix_ + L"-lock").c_str()));
  if (!s->mutex_) {
    *error = L"cannot create the state mutex";
    return nullptr;
  }
  s->shared_ = SharedState::Open(s->prefix_ + L"-shared");
  if (!s->shared_) {
    *error = L"cannot map the shared state";
    return nullptr;
  }
  if (!s->shared_->Ready()) {
    // The block is new (no process had it open): fill in what the folder keeps.
    Lock lock(*s);
    if (!s->shared_->Ready()) {
      s->shared_->SetLatencyMs(s->LoadLatency());
      s->shared_->SetReady();
    }
  }
  return s;
}

Store::~Store() = default;

Store::Lock::Lock(const Store& s) : store_(s) {
  // An abandoned mutex still hands over ownership; files are replaced atomically, so what a killed holder
  // left behind is consistent, only perhaps not yet counted.
  DWORD w = ::WaitForSingleObject(s.mutex_.get(), INFINITE);
  if (w == WAIT_ABANDONED || (s.shared().Sequence() & 1)) s.shared().Recover();
}

Store::Lock::~Lock() {
  ::ReleaseMutex(store_.mutex_.get());
  // A waiter re-reads the log under the lock, so an event appended before this release is seen by a wake
  // that follows it; and a wake that goes before a waiter's next look is not lost, as the waiter resets
  // its wake event before it looks.
  if (!store_.wakePending_.exchange(false)) return;
  try {
    store_.WakeWaiters();
  } catch (...) {  // out of memory for a name: the waiters see the event with the next one
    ::OutputDebugStringW(L"simtoken: cannot wake the waiters\n");
  }
}

std::wstring Store::TokenPath(CK_SLOT_ID slot) const {
  wchar_t name[32];
  swprintf(name, 32, L"\\slot%02lu.tok", static_cast<unsigned long>(slot));
  return dir_ + name;
}

LoadResult Store::LoadToken(CK_SLOT_ID slot, Token* out) const {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(TokenPath(slot), &bytes)) {
    return ::GetFileAttributesW(TokenPath(slot).c_str()) == INVALID_FILE_ATTRIBUTES ? LoadResult::kMissing
                                                                                     : LoadResult::kDamaged;
  }
  bool previousFormat = false;
  std::optional<Token> t = DecodeToken(bytes.data(), bytes.size(), &previousFormat);
  if (previousFormat) ::SecureZeroMemory(bytes.data(), bytes.size());  // it held the plain PIN
  if (!t) {
    DebugLine(L"skipping damaged token file " + TokenPath(slot));
    return LoadResult::kDamaged;
  }
  if (previousFormat && !SaveToken(slot, *t)) DebugLine(L"cannot rewrite " + TokenPath(slot));
  *out = std::move(*t);
  return LoadResult::kOk;
}

bool Store::SaveToken(CK_SLOT_ID slot, const Token& token) const {
  std::vector<uint8_t> bytes = EncodeToken(token);
  shared_->BeginChange();
  bool ok = WriteFileAtomic(TokenPath(slot), bytes.data(), bytes.size());
  shared_->EndChange(slot);
  return ok;
}

bool Store::DeleteToken(CK_SLOT_ID slot) const {
  shared_->BeginChange();
  bool ok = ::DeleteFileW(TokenPath(slot).c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
  shared_->EndChange(slot);
  return ok;
}

uint32_t Store::LoadLatency() const {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(dir_ + L"\\latency.txt", &bytes)) return 0;
  std::string text(bytes.begin(), bytes.end());
  unsigned long ms = 0;
  if (std::sscanf(text.c_str(), "%lu", &ms) != 1 || ms > kMaxLatencyMs) {
    DebugLine(L"ignoring a damaged latency file");
    return 0;
  }
  return static_cast<uint32_t>(ms);
}

bool Store::SaveLatency(uint32_t ms) const {
  std::string text = std::to_string(ms) + "\n";
  bool ok = ms == 0 ? (::DeleteFileW((dir_ + L"\\latency.txt").c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND)
                    : WriteFileAtomic(dir_ + L"\\latency.txt", text.data(), text.size());
  if (ok) shared_->SetLatencyMs(ms);
  return ok;
}

uint64_t Store::EventCount() const {
  WIN32_FILE_ATTRIBUTE_DATA fa;
  if (!::GetFileAttributesExW((dir_ + L"\\events.log").c_str(), GetFileExInfoStandard, &fa)) return 0;
  uint64_t size = (static_cast<uint64_t>(fa.nFileSizeHigh) << 32) | fa.nFileSizeLow;
  return size / kEventRecord;
}

bool Store::ReadEvent(uint64_t index, Event* out) const {
  vd::UniqueFile f(::CreateFileW((dir_ + L"\\events.log").c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
  if (!f) return false;
  OVERLAPPED at{};
  uint64_t offset = index * kEventRecord;
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  uint8_t rec[kEventRecord];
  DWORD got = 0;
  if (!::ReadFile(f.get(), rec, sizeof rec, &got, &at) || got != sizeof rec) return false;
  out->slot = GetU32(rec);
  out->code = GetU32(rec + 4);
  out->data = GetU32(rec + 8);
  if (GetU32(rec + 12) != (out->slot ^ out->code ^ out->data ^ kEventCheck)) {
    DebugLine(L"damaged event record " + std::to_wstring(index));
    *out = Event{};  // keeps the sequence: a damaged record is delivered as event 0 of slot 0
  }
  return true;
}

bool Store::RaiseEvent(const Event& e) const {
  {
    vd::UniqueFile f(::CreateFileW((dir_ + L"\\events.log").c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, 0,
                                   nullptr));
    if (!f) return false;
    uint8_t rec[kEventRecord];
    PutU32(rec, e.slot);
    PutU32(rec + 4, e.code);
    PutU32(rec + 8, e.data);
    PutU32(rec + 12, e.slot ^ e.code ^ e.data ^ kEventCheck);
    DWORD put = 0;
    if (!::WriteFile(f.get(), rec, sizeof rec, &put, nullptr) || put != sizeof rec) return false;
  }
  wakePending_ = true;
  return true;
}

void Store::WakeWaiters() const {
  WIN32_FIND_DATAW fd;
  HANDLE find = ::FindFirstFileW((dir_ + L"\\waiters\\*").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<std::wstring> dead;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::wstring id = fd.cFileName;
    HANDLE ev = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, WaiterEventName(id).c_str());
    if (!ev) {
      // The process that registered it is gone (its event died with it) or it never finished starting.
      dead.push_back(id);
      continue;
    }
    ::SetEvent(ev);
    ::CloseHandle(ev);
  } while (::FindNextFileW(find, &fd));
  ::FindClose(find);
  for (const std::wstring& id : dead) UnregisterWaiter(id);
}

bool Store::RegisterWaiter(const std::wstring& id) const {
  vd::UniqueFile f(::CreateFileW((dir_ + L"\\waiters\\" + id).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 0, nullptr));
  return static_cast<bool>(f);
}

void Store::UnregisterWaiter(const std::wstring& id) const { ::DeleteFileW((dir_ + L"\\waiters\\" + id).c_str()); }

std::vector<FaultRule> Store::LoadFaults() const {
  std::vector<FaultRule> rules;
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(dir_ + L"\\faults.txt", &bytes)) return rules;
  std::string text(bytes.begin(), bytes.end());
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    char name[64];
    unsigned long rv = 0, after = 0, times = 0;
    if (std::sscanf(line.c_str(), "%63s %lu %lu %lu", name, &rv, &after, &times) == 4)
      rules.push_back(FaultRule{name, static_cast<CK_RV>(rv), static_cast<uint32_t>(after),
                                static_cast<uint32_t>(times)});
    else if (!line.empty())
      DebugLine(L"skipping a damaged fault rule");
  }
  return rules;
}

bool Store::SaveFaults(const std::vector<FaultRule>& rules) const {
  std::string text;
  for (const FaultRule& r : rules) {
    char line[128];
    std::snprintf(line, sizeof line, "%s %lu %lu %lu\n", r.function.c_str(), static_cast<unsigned long>(r.rv),
                  static_cast<unsigned long>(r.after), static_cast<unsigned long>(r.times));
    text += line;
  }
  const bool ok = rules.empty() ? (::DeleteFileW((dir_ + L"\\faults.txt").c_str()) ||
                                   ::GetLastError() == ERROR_FILE_NOT_FOUND)
                                : WriteFileAtomic(dir_ + L"\\faults.txt", text.data(), text.size());
  shared_->FaultsChanged();
  return ok;
}

}  // namespace simtoken
