// Finding and answering the erase question that the plug-in and the native messaging host show before a
// page's "InitKey" erases a token, from any process on this desktop, as a person would answer it.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vdtest {

struct EraseDialogSeen {
  std::wstring title, request, warning, advice, eraseButton, cancelButton;
  bool topmost = false;
  int defaultButton = 0;  // the dialog's default push button
};

// Waits up to `timeoutMs` for a visible question, reads it and presses Erase or Cancel; nothing when no
// question appeared. `beforeAnswer` runs while the question is open. Returns once it is off the screen.
std::optional<EraseDialogSeen> AnswerEraseDialog(bool erase, DWORD timeoutMs,
                                                 const std::function<void()>& beforeAnswer = {});

// Answers every question that appears while it lives, on a thread of its own.
class EraseDialogAnswerer {
 public:
  explicit EraseDialogAnswerer(bool erase);
  ~EraseDialogAnswerer();
  EraseDialogAnswerer(const EraseDialogAnswerer&) = delete;
  EraseDialogAnswerer& operator=(const EraseDialogAnswerer&) = delete;

  void set_erase(bool erase) { erase_ = erase; }
  std::vector<EraseDialogSeen> seen();

 private:
  std::atomic<bool> erase_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<EraseDialogSeen> seen_;
  std::thread thread_;
};

}  // namespace vdtest
