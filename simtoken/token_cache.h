// The module's copy of every slot's token, kept for as long as no writer has finished a change since it
// was read (shared_state.h), so that most calls answer from memory without the store lock.
#pragma once

#include "store.h"

#include <memory>

namespace simtoken {

struct SlotState {
  LoadResult result = LoadResult::kMissing;
  std::shared_ptr<const Token> token;  // set when result is kOk; callers may keep it after the cache moves on
  uint32_t version = 0;
};

class TokenCache {
 public:
  // Forgets everything: the next refresh reads every slot.
  void Clear() { valid_ = false; }
  // True when no write has finished since the last refresh. A write still in progress has not counted yet,
  // so what the cache holds is then an earlier state that was valid.
  bool Current(const SharedState& shared) const { return valid_ && shared.Sequence() == sequence_; }
  // Re-reads the slots whose version moved. Caller holds the store lock.
  void Refresh(const Store& store);
  // Only for slot ids (IsSlotId).
  const SlotState& Slot(CK_SLOT_ID slot) const { return slots_[slot]; }

 private:
  bool valid_ = false;
  uint32_t sequence_ = 0;
  SlotState slots_[kLastSlot + 1];
};

}  // namespace simtoken
