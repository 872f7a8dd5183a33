// A top-level window of the test's own with two password edits taken over by secure edits, pumped by the
// test's main thread while helper threads type into it.
#pragma once

#include "testsupport.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "sec_edit.h"

namespace sectest {

class EditHost {
 public:
  static constexpr int kFirstId = 501;
  static constexpr int kSecondId = 502;

  // `visibleSecond` false creates the second edit without WS_VISIBLE.
  explicit EditHost(int limit = 12, bool visibleSecond = true);
  ~EditHost();
  EditHost(const EditHost&) = delete;
  EditHost& operator=(const EditHost&) = delete;

  HWND window() const { return window_; }
  HWND edit(int which) const { return which == 0 ? first_ : second_; }
  vd::CSecEdit& secure(int which) { return which == 0 ? *firstSecure_ : *secondSecure_; }
  // Foreground, focus on the edit, and the edit's hook in place.
  bool Focus(int which);
  // The content the secure edit holds.
  std::wstring Content(int which);
  // The edit control's own text.
  std::wstring ShownText(int which) const;
  int Notifications() const { return notifications_; }
  void ResetNotifications() { notifications_ = 0; }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  HWND window_ = nullptr;
  HWND first_ = nullptr;
  HWND second_ = nullptr;
  std::unique_ptr<vd::CSecEdit> firstSecure_;
  std::unique_ptr<vd::CSecEdit> secondSecure_;
  int notifications_ = 0;
};

using vdtest::Pump;
using vdtest::PumpUntil;
// Runs `work` on a helper thread while the calling thread keeps dispatching, so that low-level hooks
// installed by the calling thread are answered.
void WhilePumping(const std::function<void()>& work, DWORD timeoutMs = 20000);

}  // namespace sectest
