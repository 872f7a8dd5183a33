#include "trusted_watch.h"

#include "product.h"

namespace host {

// Asks to be told of the next change; the notification is armed before the list is read, so a change
// during the read is not lost.
bool WatchedTrustedOrigins::Arm() {
  if (!key_ && ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, vd::kProduct.installKey, 0, KEY_NOTIFY | KEY_QUERY_VALUE,
                               key_.put()) != ERROR_SUCCESS) {
    return false;
  }
  if (!changed_) changed_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!changed_) return false;
  ::ResetEvent(changed_.get());
  return ::RegNotifyChangeKeyValue(key_.get(), FALSE, REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME,
                                   changed_.get(), TRUE) == ERROR_SUCCESS;
}

tq::TrustedOrigins WatchedTrustedOrigins::Get() {
  if (armed_ && ::WaitForSingleObject(changed_.get(), 0) == WAIT_TIMEOUT) return list_;
  // The key itself may have been deleted and written anew: watch the one there now.
  key_.reset();
  armed_ = Arm();
  list_ = tq::TrustedOrigins::FromRegistry();
  return list_;
}

}  // namespace host
