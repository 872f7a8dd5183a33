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

tq::TrustedOrigins WatchedTrustedOrigins::Get() {
  if (armed_ && !install_.Fired() && !policies_.Fired()) return list_;
  const bool install = install_.Arm(vd::kProduct.installKey, false);
  const bool policies = policies_.Arm(kPolicies, true);
  armed_ = install && policies;
  list_ = tq::TrustedOrigins::FromRegistry();
  ReportDropped(list_, log_, &named_);
  return list_;
}

}  // namespace host
