#include "token_cache.h"

namespace simtoken {

void TokenCache::Refresh(const Store& store) {
  const SharedState& shared = store.shared();
  for (CK_SLOT_ID s = kFirstSlot; s <= kLastSlot; ++s) {
    SlotState& slot = slots_[s];
    if (valid_ && slot.version == shared.SlotVersion(s)) continue;
    auto token = std::make_shared<Token>();
    slot.result = store.LoadToken(s, token.get());
    slot.token = slot.result == LoadResult::kOk ? std::move(token) : nullptr;
    // Read after the load: loading a file of the previous format rewrites it, which counts as a change.
    slot.version = shared.SlotVersion(s);
  }
  sequence_ = shared.Sequence();
  valid_ = true;
}

}  // namespace simtoken
