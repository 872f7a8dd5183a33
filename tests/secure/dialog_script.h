// Drives a PIN dialog from a helper thread, as a user would, while the code under test sits in its modal
// loop: the watch reports the dialog, the script runs against it, and a dialog the script left open is
// cancelled so that no test waits for a person.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "pin_dialog_watch.h"

namespace sectest {

class DialogScript {
 public:
  explicit DialogScript(std::function<void(HWND dialog)> script);
  ~DialogScript();
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;

  const vd::PinDialogWatch& Watch() const { return watch_; }
  // Waits for the script to end. Call it once the code under test returned: a dialog that never opened is
  // then not waited for.
  void Join();

  int Opened() const { return opened_; }
  int Closed() const { return closed_; }
  // The thread that ran watch.opened, and the thread that runs the dialog.
  DWORD OpenedOnThread() const { return openedOn_; }
  DWORD DialogThread() const { return dialogThread_; }
  HWND Dialog() const { return dialog_; }

 private:
  std::function<void(HWND)> script_;
  vd::PinDialogWatch watch_;
  HANDLE reported_;
  HANDLE ended_;
  std::atomic<HWND> dialog_{nullptr};
  std::atomic<int> opened_{0};
  std::atomic<int> closed_{0};
  std::atomic<DWORD> openedOn_{0};
  std::atomic<DWORD> dialogThread_{0};
  std::thread thread_;
};

// Typing as the edit control sees a key that no hook took (letters and digits only reach the content).
void Type(HWND dialog, int id, const std::wstring& text);
// Gives the dialog's thread time to handle what was posted to it.
void Settle(DWORD ms = 80);
bool Enabled(HWND dialog, int id);
int Length(HWND dialog, int id);
std::wstring TextOf(HWND window);
// Presses a button as a click would: a disabled button does nothing.
void Click(HWND dialog, int id);
// Runs `work` on the calling thread if it shares the dialog's desktop, else on a fresh thread attached to
// that desktop: windows and input of an isolated desktop are reachable only from threads on it.
void OnDialogsDesktop(HWND dialog, const std::function<void()>& work);
// A message box shown by the dialog's thread, or null after the time is up.
HWND WaitForMessageBox(HWND dialog, DWORD timeoutMs = 5000);
// The window that has the keyboard focus on the dialog's thread.
HWND FocusOf(HWND dialog);
// Waits until the window is gone.
bool WaitGone(HWND window, DWORD timeoutMs = 10000);

}  // namespace sectest
