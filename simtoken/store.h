// The state folder shared by every process that uses the simulated tokens: one file per slot, an
// append-only event log, the registrations of processes waiting for events, the fault rules and the added
// latency; beside it a shared-memory block (shared_state.h) with the change counters and the sessions.
// All of it is guarded by one named mutex whose name derives from the folder, so processes that work on
// different folders never wait for each other.
#pragma once

#include "handles.h"
#include "shared_state.h"
#include "token_data.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace simtoken {

struct Event {
  uint32_t slot = 0;
  uint32_t code = 0;
  uint32_t data = 0;
};

struct FaultRule {
  std::string function;  // "C_FindObjects"
  CK_RV rv = 0;
  uint32_t after = 0;    // calls that still succeed
  uint32_t times = 0;    // failures to inject; 0 = every call after the first `after`
};

enum class LoadResult { kOk, kMissing, kDamaged };

class Store {
 public:
  // Folder of SIMTOKEN_DIR, else %LOCALAPPDATA%\SimToken; created when missing. Null with *error set when
  // the folder cannot be made or the mutex cannot be created.
  static std::unique_ptr<Store> Open(std::wstring* error);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  const std::wstring& dir() const { return dir_; }
  // Unique to the folder; the prefix of every kernel object name of this state.
  const std::wstring& objectPrefix() const { return prefix_; }

  SharedState& shared() const { return *shared_; }

  // Everything below requires the lock to be held by the caller.
  class Lock {
   public:
    // Taking over a lock whose holder died (or finding a write still marked as in progress) counts every
    // slot as changed, so that no process goes on answering from what it read before.
    explicit Lock(const Store& s);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    const Store& store_;
  };

  // A file of the previous format is rewritten in the current one as it is read, so that its plain PIN
  // leaves the disk.
  LoadResult LoadToken(CK_SLOT_ID slot, Token* out) const;
  // Both count as a change of the slot (shared_state.h), also when the write fails.
  bool SaveToken(CK_SLOT_ID slot, const Token& token) const;
  bool DeleteToken(CK_SLOT_ID slot) const;

  // The delay every module call waits, standing for a USB token's round trip; kept in a file so that it
  // outlives the shared block, and in the block so that running processes see it at their next call.
  static constexpr uint32_t kMaxLatencyMs = 60000;
  bool SaveLatency(uint32_t ms) const;

  uint64_t EventCount() const;
  bool ReadEvent(uint64_t index, Event* out) const;
  // Appends to the log; every registered waiter is woken once the lock is released, so that it does not
  // wake only to wait for the lock. Registrations whose event is gone are dropped then.
  bool RaiseEvent(const Event& e) const;
  // A waiter is a named event objectPrefix() + L"-" + id, registered by a file of that id in the folder.
  bool RegisterWaiter(const std::wstring& id) const;
  void UnregisterWaiter(const std::wstring& id) const;
  std::wstring WaiterEventName(const std::wstring& id) const { return prefix_ + L"-" + id; }

  std::vector<FaultRule> LoadFaults() const;
  bool SaveFaults(const std::vector<FaultRule>& rules) const;

  std::wstring TokenPath(CK_SLOT_ID slot) const;

 private:
  Store() = default;
  uint32_t LoadLatency() const;
  void WakeWaiters() const;
  std::wstring dir_;
  std::wstring prefix_;
  vd::UniqueKernelHandle mutex_;
  std::unique_ptr<SharedState> shared_;
  mutable std::atomic<bool> wakePending_{false};
};

// Replaces a file by writing a temporary beside it and moving that over the old one, so that a reader or a
// killed writer never meets a half-written file.
bool WriteFileAtomic(const std::wstring& path, const void* data, size_t size);
bool ReadWholeFile(const std::wstring& path, std::vector<uint8_t>* out);
void DebugLine(const std::wstring& text);

}  // namespace simtoken
