#include "window_gate.h"

#include <algorithm>

namespace vd {

ExpiryPrompt GatedExpiryPrompt(std::shared_ptr<const WindowGate> gate, ExpiryPrompt prompt) {
  if (!prompt) return nullptr;
  return [gate = std::move(gate), prompt = std::move(prompt)](int days) {
    return gate->MayOpen() ? prompt(days) : false;
  };
}

void HeldWork::HoldTimer(UINT_PTR id) {
  const bool waiting =
      std::any_of(items_.begin(), items_.end(), [&](const Item& i) { return i.timer && i.wp == id; });
  if (!waiting) items_.push_back({true, id, 0});
}

std::optional<HeldWork::Item> HeldWork::Next() {
  if (items_.empty()) return std::nullopt;
  Item item = items_.front();
  items_.pop_front();
  return item;
}

}  // namespace vd
