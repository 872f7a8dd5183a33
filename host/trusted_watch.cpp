#include "trusted_watch.h"

#include "product.h"

namespace host {
namespace {

// The parent of the policy key, which Windows always has: the product's own policy key may be created
// after the host started, and a watch on its parent sees that.
constexpr wchar_t kPolicies[] = L"SOFTWARE\\Policies";

}  // namespace

void ReportDropped(const tq::TrustedOrigins& list, std::FILE* out, std::set<std::string>* alreadyNamed) {
  if (!out) return;
  for (const tq::RejectedOrigin& r : list.rejected()) {
    if (alreadyNamed && !alreadyNamed->insert(r.entry + '\n' + r.reason).second) continue;
    std::fprintf(out, "lumora_host: trusted origin \"%s\" dropped: %s\n", r.entry.c_str(), r.reason.c_str());
  }
  std::fflush(out);
}

// Asks to be told of the next change; the notification is armed before the list is read, so a change
// during the read is not lost.
bool WatchedTrustedOrigins::Watch::Arm(const wchar_t* path, bool subtree) {
  // The key itself may have been deleted and written anew: watch the one there now.
  key.reset();
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_NOTIFY | KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
    return false;
  if (!changed) changed.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!changed) return false;
  ::ResetEvent(changed.get());
  return ::RegNotifyChangeKeyValue(key.get(), subtree, REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME,
                                   changed.get(), TRUE) == ERROR_SUCCESS;
}

WatchedTrustedOrigins::~WatchedTrustedOrigins() {
  if (!thread_) return;
  ::SetEvent(stop_.get());
  ::WaitForSingleObject(thread_.get(), INFINITE);
}

// Waits for a watch to fire, marks the list changed, and waits until Get has armed the watches again.
DWORD WINAPI WatchedTrustedOrigins::WatchMain(void* self) {
  auto* w = static_cast<WatchedTrustedOrigins*>(self);
  for (;;) {
    const HANDLE fired[] = {w->stop_.get(), w->install_.changed.get(), w->policies_.changed.get()};
    const DWORD woke = ::WaitForMultipleObjects(3, fired, FALSE, INFINITE);
    if (woke != WAIT_OBJECT_0 + 1 && woke != WAIT_OBJECT_0 + 2) return 0;  // stopped, or nothing to wait on
    ::InterlockedExchange(&w->changed_, 1);
    const HANDLE next[] = {w->stop_.get(), w->rearmed_.get()};
    if (::WaitForMultipleObjects(2, next, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return 0;
  }
}

bool WatchedTrustedOrigins::Rearmed() {
  if (thread_) return ::SetEvent(rearmed_.get()) != FALSE;
  stop_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  rearmed_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!stop_ || !rearmed_) return false;
  thread_.reset(::CreateThread(nullptr, 0, &WatchMain, this, 0, nullptr));
  return static_cast<bool>(thread_);
}

tq::TrustedOrigins WatchedTrustedOrigins::Get() {
  if (armed_ && !changed_) return list_;
  // Cleared before the watches are armed again: a change from now on marks the list anew.
  ::InterlockedExchange(&changed_, 0);
  const bool install = install_.Arm(vd::kProduct.installKey, false);
  // A machine without any policy yet (a fresh Wine prefix): the policies key's creation is what to wait for.
  const bool policies = policies_.Arm(kPolicies, true) || policies_.Arm(L"SOFTWARE", false);
  armed_ = install && policies && Rearmed();
  list_ = tq::TrustedOrigins::FromRegistry();
  ReportDropped(list_, log_, &named_);
  return list_;
}

}  // namespace host
