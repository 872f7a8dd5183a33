#include "read_again.h"

#include <algorithm>
#include <climits>

namespace vd {

namespace {

constexpr UINT kMaxFactor = 60;

}  // namespace

UINT BackoffDelay(UINT first, int failures) {
  const int doublings = std::clamp(failures - 1, 0, 16);
  return std::min(first << doublings, first * kMaxFactor);
}

void ReadAgainSchedule::Schedule(unsigned long key, int failedReads) {
  pending_[key] = {failedReads, ::GetTickCount() + BackoffDelay(firstMs_, failedReads)};
  Arm();
}

void ReadAgainSchedule::Cancel(unsigned long key) {
  if (pending_.erase(key)) Arm();
}

std::vector<std::pair<unsigned long, int>> ReadAgainSchedule::Due() const {
  const DWORD now = ::GetTickCount();
  std::vector<std::pair<unsigned long, int>> due;
  for (const auto& [key, p] : pending_)
    if (static_cast<LONG>(p.due - now) <= 0) due.emplace_back(key, p.failedReads);
  return due;
}

void ReadAgainSchedule::Arm() {
  if (!owner_) return;
  ::KillTimer(owner_, timerId_);
  if (pending_.empty()) return;
  const DWORD now = ::GetTickCount();
  LONG soonest = LONG_MAX;
  for (const auto& [key, p] : pending_) soonest = std::min(soonest, static_cast<LONG>(p.due - now));
  ::SetTimer(owner_, timerId_, static_cast<UINT>(std::max<LONG>(soonest, USER_TIMER_MINIMUM)), nullptr);
}

void ReadAgainSchedule::Clear() {
  pending_.clear();
  if (owner_) ::KillTimer(owner_, timerId_);
}

}  // namespace vd
