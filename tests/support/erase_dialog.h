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

// Waits up to `timeoutMs` for a visible question, reads it and clicks Erase or Cancel with the pointer
// once the question takes answers; nothing when no question appeared. `beforeAnswer` runs while the question is open. Returns once it is off the screen.
std::optional<EraseDialogSeen> AnswerEraseDialog(bool erase, DWORD timeoutMs,
                                                 const std::function<void()>& beforeAnswer = {});

// Keys and a click a page could count on a person giving the moment the question shows, as real input.
struct EraseAttack {
  const char* what;
  void (*send)(HWND question);
};
const std::vector<EraseAttack>& EraseAttacks();

struct AttackOutcome {
  bool asked = false;         // a question appeared and was in front when the attack was sent
  bool stillAsking = false;   // it was still open, unanswered, once it took answers again
};
// Waits up to `timeoutMs` for a question, sends `attack` at once, then waits until the question takes
// answers and cancels it with a pointer click (when it is still open).
AttackOutcome AttackEraseDialog(const EraseAttack& attack, DWORD timeoutMs);
// Waits up to `timeoutMs` for a question and clicks Erase with the pointer `afterMs` after it showed;
// false when no question appeared.
bool ClickEraseAfter(DWORD afterMs, DWORD timeoutMs);

// Waits up to `timeoutMs` for a question and reads it without answering.
std::optional<EraseDialogSeen> ReadEraseDialog(DWORD timeoutMs);

// Waits up to `timeoutMs` until no question is on the screen; false when one stays.
bool WaitUntilNoQuestion(DWORD timeoutMs);

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
