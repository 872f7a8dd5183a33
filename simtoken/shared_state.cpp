#include "shared_state.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <map>

namespace simtoken {

namespace {

constexpr uint32_t kReadyMagic = 0x53544B31;  // "STK1"
constexpr int kSessionEntries = 128;

struct SessionEntry {
  uint32_t pid;  // 0: free
  uint32_t createdLow;
  uint32_t createdHigh;
  uint32_t count;
};

std::atomic_ref<uint32_t> At(uint32_t& field) { return std::atomic_ref<uint32_t>(field); }

// The creation time tells a process apart from a later one that was given the same id.
bool CreationTime(HANDLE process, uint32_t* low, uint32_t* high) {
  FILETIME created, exited, kernel, user;
  if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return false;
  *low = created.dwLowDateTime;
  *high = created.dwHighDateTime;
  return true;
}

bool StillRunning(const SessionEntry& e) {
  vd::UniqueKernelHandle p(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, e.pid));
  if (!p) return ::GetLastError() == ERROR_ACCESS_DENIED;  // there, but not ours to look at
  if (::WaitForSingleObject(p.get(), 0) != WAIT_TIMEOUT) return false;
  uint32_t low = 0, high = 0;
  return !CreationTime(p.get(), &low, &high) || (low == e.createdLow && high == e.createdHigh);
}

}  // namespace

struct SharedBlock {
  uint32_t ready;
  uint32_t sequence;
  uint32_t slotVersion[kLastSlot + 1];
  uint32_t latencyMs;
  SessionEntry sessions[kSessionEntries];
  // Moves on with every change of the fault rules, so that running processes read them again.
  uint32_t faultsVersion;
};
static_assert(offsetof(SharedBlock, sessions) == 4 * (kLastSlot + 4) && sizeof(SessionEntry) == 16,
              "the same layout in 32- and 64-bit processes");

std::unique_ptr<SharedState> SharedState::Open(const std::wstring& name) {
  std::unique_ptr<SharedState> s(new SharedState);
  s->mapping_.reset(
      ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SharedBlock), name.c_str()));
  if (!s->mapping_) return nullptr;
  // A new mapping is zero-filled: no changes yet, no latency, no sessions, not ready.
  s->block_ = static_cast<SharedBlock*>(::MapViewOfFile(s->mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SharedBlock)));
  if (!s->block_) return nullptr;
  return s;
}

SharedState::~SharedState() {
  if (block_) ::UnmapViewOfFile(block_);
}

uint32_t SharedState::Sequence() const { return At(block_->sequence).load(); }

uint32_t SharedState::SlotVersion(CK_SLOT_ID slot) const {
  return IsSlotId(slot) ? At(block_->slotVersion[slot]).load() : 0;
}

void SharedState::BeginChange() {
  if ((Sequence() & 1) == 0) At(block_->sequence).fetch_add(1);
}

void SharedState::EndChange(CK_SLOT_ID slot) {
  if (IsSlotId(slot)) At(block_->slotVersion[slot]).fetch_add(1);
  At(block_->sequence).fetch_add((Sequence() & 1) ? 1 : 2);
}

void SharedState::Recover() {
  for (CK_SLOT_ID s = kFirstSlot; s <= kLastSlot; ++s) At(block_->slotVersion[s]).fetch_add(1);
  At(block_->sequence).fetch_add((Sequence() & 1) ? 1 : 2);
}

bool SharedState::Ready() const { return At(block_->ready).load() == kReadyMagic; }
void SharedState::SetReady() { At(block_->ready).store(kReadyMagic); }
uint32_t SharedState::LatencyMs() const { return At(block_->latencyMs).load(); }
void SharedState::SetLatencyMs(uint32_t ms) { At(block_->latencyMs).store(ms); }
uint32_t SharedState::FaultsVersion() const { return At(block_->faultsVersion).load(); }
void SharedState::FaultsChanged() { At(block_->faultsVersion).fetch_add(1); }

void SharedState::DropDeadEntries() {
  for (SessionEntry& e : block_->sessions) {
    if (At(e.pid).load() != 0 && !StillRunning(e)) {
      At(e.count).store(0);
      At(e.pid).store(0);
    }
  }
}

int SharedState::ClaimSessionEntry() {
  DropDeadEntries();
  uint32_t low = 0, high = 0;
  CreationTime(::GetCurrentProcess(), &low, &high);
  for (int i = 0; i < kSessionEntries; ++i) {
    SessionEntry& e = block_->sessions[i];
    if (At(e.pid).load() != 0) continue;
    e.createdLow = low;
    e.createdHigh = high;
    At(e.count).store(0);
    At(e.pid).store(::GetCurrentProcessId());
    return i;
  }
  return -1;
}

void SharedState::ReleaseSessionEntry(int entry) {
  if (entry < 0 || entry >= kSessionEntries) return;
  At(block_->sessions[entry].count).store(0);
  At(block_->sessions[entry].pid).store(0);
}

void SharedState::SetSessionCount(int entry, uint32_t count) {
  if (entry >= 0 && entry < kSessionEntries) At(block_->sessions[entry].count).store(count);
}

std::vector<ProcessSessions> SharedState::LiveSessions() {
  DropDeadEntries();
  std::map<DWORD, uint32_t> byProcess;
  for (SessionEntry& e : block_->sessions) {
    uint32_t pid = At(e.pid).load(), count = At(e.count).load();
    if (pid != 0 && count > 0) byProcess[pid] += count;
  }
  std::vector<ProcessSessions> out;
  for (const auto& [pid, count] : byProcess) out.push_back(ProcessSessions{pid, count});
  return out;
}

}  // namespace simtoken
