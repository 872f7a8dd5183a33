// The dialogs open for a token (changing its PIN, renaming it): pulling the token out ends them. The
// dialogs are told by a posted message, since the PIN dialog may run on a thread of its own.
#pragma once

#include <windows.h>

#include <map>
#include <vector>

namespace vd {

class OpenTokenDialogs {
 public:
  enum class Kind { ChangePin, ChangeName };

  void Enter(Kind kind, unsigned long key, HWND dialog) { Of(kind)[key] = dialog; }
  void Leave(Kind kind, unsigned long key) { Of(kind).erase(key); }
  HWND Find(Kind kind, unsigned long key) const;
  std::vector<HWND> All() const;
  // Tells every dialog open for the token that it went, and forgets them.
  void EndFor(unsigned long key);
  // Cancels every open dialog, as its Cancel button would; they leave as they close.
  void CancelAll() const;
  void Clear();

 private:
  std::map<unsigned long, HWND>& Of(Kind kind) { return kind == Kind::ChangePin ? pin_ : name_; }
  const std::map<unsigned long, HWND>& Of(Kind kind) const { return kind == Kind::ChangePin ? pin_ : name_; }

  std::map<unsigned long, HWND> pin_;
  std::map<unsigned long, HWND> name_;
};

}  // namespace vd
