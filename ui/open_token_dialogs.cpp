#include "open_token_dialogs.h"

#include "token_dialogs.h"

namespace vd {

HWND OpenTokenDialogs::Find(Kind kind, unsigned long key) const {
  const auto& dialogs = Of(kind);
  auto it = dialogs.find(key);
  return it == dialogs.end() ? nullptr : it->second;
}

std::vector<HWND> OpenTokenDialogs::All() const {
  std::vector<HWND> all;
  for (const auto* dialogs : {&pin_, &name_})
    for (const auto& [key, dialog] : *dialogs) all.push_back(dialog);
  return all;
}

void OpenTokenDialogs::EndFor(unsigned long key) {
  for (auto* dialogs : {&pin_, &name_}) {
    auto it = dialogs->find(key);
    if (it == dialogs->end()) continue;
    ::PostMessageW(it->second, kTokenRemovedMessage, 0, 0);
    dialogs->erase(it);
  }
}

void OpenTokenDialogs::CancelAll() const {
  for (const auto* dialogs : {&pin_, &name_})
    for (const auto& [key, dialog] : *dialogs) ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

void OpenTokenDialogs::Clear() {
  pin_.clear();
  name_.clear();
}

}  // namespace vd
