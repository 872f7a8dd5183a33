// Drives a test's modal dialogs from timers inside their modal loops, as a user would:
// each step runs on one tick against the dialog this thread shows that takes input (a message box over a
// disabled dialog is the one), so that the loop runs and paints between steps. Whatever is still open
// after ten seconds is cancelled, so that a failing test ends instead of hanging; WatchdogFired() tells.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace vdtest {

class DialogDriver {
 public:
  using Step = std::function<void(HWND)>;
  explicit DialogDriver(std::vector<Step> steps) {
    steps_ = std::move(steps);
    seen_.clear();
    watchdogFired_ = false;
    timer_ = ::SetTimer(nullptr, 0, 100, &DialogDriver::Tick);
    watchdog_ = ::SetTimer(nullptr, 0, 10000, &DialogDriver::Watchdog);
  }
  explicit DialogDriver(Step step) : DialogDriver(std::vector<Step>{std::move(step)}) {}
  ~DialogDriver() {
    ::KillTimer(nullptr, timer_);
    ::KillTimer(nullptr, watchdog_);
    steps_.clear();
  }
  DialogDriver(const DialogDriver&) = delete;
  DialogDriver& operator=(const DialogDriver&) = delete;

  // Every dialog a step ran on, in order (the same window once per step).
  static const std::vector<HWND>& Seen() { return seen_; }
  static bool WatchdogFired() { return watchdogFired_; }
  static bool StepsLeft() { return !steps_.empty(); }

  static HWND ActiveThreadDialog() {
    HWND found = nullptr;
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND h, LPARAM lp) -> BOOL {
          wchar_t cls[16] = {};
          ::GetClassNameW(h, cls, 16);
          if (::IsWindowVisible(h) && ::IsWindowEnabled(h) && lstrcmpW(cls, L"#32770") == 0) {
            *reinterpret_cast<HWND*>(lp) = h;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
  }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    HWND dlg = ActiveThreadDialog();
    if (!dlg || steps_.empty()) return;
    seen_.push_back(dlg);
    Step step = std::move(steps_.front());
    steps_.erase(steps_.begin());
    step(dlg);
  }
  static void CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD) {
    watchdogFired_ = true;
    steps_.clear();
    if (HWND dlg = ActiveThreadDialog()) ::PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
  }

  static inline std::vector<Step> steps_;
  static inline std::vector<HWND> seen_;
  static inline bool watchdogFired_ = false;
  UINT_PTR timer_ = 0;
  UINT_PTR watchdog_ = 0;
};

inline std::wstring ItemText(HWND dlg, int id) {
  HWND item = ::GetDlgItem(dlg, id);
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(item)) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(item, text.data(), static_cast<int>(text.size()))));
  return text;
}

inline std::wstring WindowText(HWND hwnd) {
  wchar_t buf[256] = {};
  ::GetWindowTextW(hwnd, buf, 256);
  return buf;
}

// Types into an edit as the keyboard would, one WM_CHAR per UTF-16 unit, after selecting all when asked.
inline void Type(HWND dlg, int id, const std::wstring& keys, bool replace = false) {
  HWND edit = ::GetDlgItem(dlg, id);
  if (replace) ::SendMessageW(edit, EM_SETSEL, 0, -1);
  for (wchar_t k : keys) ::SendMessageW(edit, WM_CHAR, k, 1);
}

inline void Press(HWND dlg, int id) { ::SendMessageW(::GetDlgItem(dlg, id), BM_CLICK, 0, 0); }

inline bool Enabled(HWND dlg, int id) { return ::IsWindowEnabled(::GetDlgItem(dlg, id)) != FALSE; }

}  // namespace vdtest
