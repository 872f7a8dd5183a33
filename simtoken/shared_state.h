// The part of the simulated tokens' state that lives in shared memory (a named file mapping beside the
// state mutex), because it is read on every call or changes on every session: the change counters that
// let a process answer from memory, the added call latency, the fault rules' change count, and the sessions each process holds.
// The block holds only 32-bit fields, so 32- and 64-bit processes share it.
#pragma once

#include "handles.h"
#include "token_data.h"

#include <memory>
#include <string>
#include <vector>

namespace simtoken {

struct SharedBlock;

struct ProcessSessions {
  DWORD pid = 0;
  uint32_t count = 0;
};

class SharedState {
 public:
  // Opens or creates the block of that name; null when it cannot be mapped.
  static std::unique_ptr<SharedState> Open(const std::wstring& name);
  ~SharedState();
  SharedState(const SharedState&) = delete;
  SharedState& operator=(const SharedState&) = delete;

  // Change counters. Every write of a slot's file is bracketed by BeginChange and EndChange under the
  // store lock: the sequence is odd while a write is in progress and moves on by two with each write, and
  // the slot's version moves on by one. A process whose cached sequence equals Sequence() has seen every
  // finished write.
  uint32_t Sequence() const;
  uint32_t SlotVersion(CK_SLOT_ID slot) const;
  void BeginChange();
  void EndChange(CK_SLOT_ID slot);
  // After a writer died holding the lock: its file may or may not have been replaced, so every slot counts
  // as changed and the sequence is even again.
  void Recover();

  // True once the first opener has copied the settings kept in files into the block (under the lock).
  bool Ready() const;
  void SetReady();
  uint32_t LatencyMs() const;
  void SetLatencyMs(uint32_t ms);
  // The fault rules' change count: a process whose copy has another count reads the rules again.
  uint32_t FaultsVersion() const;
  void FaultsChanged();

  // Session table, one entry per initialised copy of the module. Claim and Release under the store lock;
  // the owner alone sets its count, without the lock. Claim fails (-1) when the table is full.
  int ClaimSessionEntry();
  void ReleaseSessionEntry(int entry);
  void SetSessionCount(int entry, uint32_t count);
  // Under the store lock: the processes that hold sessions, by process id, summed over their copies of the
  // module. Entries of processes that have ended are freed on the way.
  std::vector<ProcessSessions> LiveSessions();

 private:
  SharedState() = default;
  void DropDeadEntries();
  vd::UniqueKernelHandle mapping_;
  SharedBlock* block_ = nullptr;
};

}  // namespace simtoken
