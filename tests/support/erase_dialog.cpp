#include "erase_dialog.h"

#include "erase_confirm_ids.h"

namespace vdtest {
namespace {

constexpr DWORD kPollMs = 10;

std::wstring TextOf(HWND wnd) {
  wchar_t buffer[1024] = {};
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutW(wnd, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000,
                        &ignored);
  return buffer;
}

BOOL CALLBACK FindQuestion(HWND wnd, LPARAM found) {
  if (!::IsWindowVisible(wnd) || !::GetDlgItem(wnd, IDC_ERASE_REQUEST) || !::GetDlgItem(wnd, IDOK)) return TRUE;
  *reinterpret_cast<HWND*>(found) = wnd;
  return FALSE;
}

HWND VisibleQuestion() {
  HWND found = nullptr;
  ::EnumWindows(FindQuestion, reinterpret_cast<LPARAM>(&found));
  return found;
}

EraseDialogSeen Read(HWND dlg) {
  EraseDialogSeen seen;
  seen.title = TextOf(dlg);
  seen.request = TextOf(::GetDlgItem(dlg, IDC_ERASE_REQUEST));
  seen.warning = TextOf(::GetDlgItem(dlg, IDC_ERASE_WARNING));
  seen.advice = TextOf(::GetDlgItem(dlg, IDC_ERASE_ADVICE));
  seen.eraseButton = TextOf(::GetDlgItem(dlg, IDOK));
  seen.cancelButton = TextOf(::GetDlgItem(dlg, IDCANCEL));
  seen.topmost = (::GetWindowLongPtrW(dlg, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  DWORD_PTR def = 0;
  ::SendMessageTimeoutW(dlg, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 2000, &def);
  if (HIWORD(def) == DC_HASDEFID) seen.defaultButton = LOWORD(def);
  return seen;
}

// Presses the button and waits until the question has left the screen.
void Press(HWND dlg, int button, DWORD timeoutMs) {
  ::PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dlg, button)));
  const DWORD start = ::GetTickCount();
  while (::IsWindow(dlg) && ::IsWindowVisible(dlg) && ::GetTickCount() - start < timeoutMs) ::Sleep(kPollMs);
}

// `seenFirst` is told what the question says before it is answered: the caller may return as soon as the
// question is gone.
std::optional<EraseDialogSeen> AnswerOnce(bool erase, DWORD timeoutMs, const std::atomic<bool>* stop,
                                          const std::function<void(const EraseDialogSeen&)>& seenFirst) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    HWND dlg = VisibleQuestion();
    // A question caught while it opens has no texts yet: read it once it says what it asks.
    if (dlg && !TextOf(::GetDlgItem(dlg, IDC_ERASE_REQUEST)).empty()) {
      EraseDialogSeen seen = Read(dlg);
      if (seenFirst) seenFirst(seen);
      Press(dlg, erase ? IDOK : IDCANCEL, 10000);
      return seen;
    }
    if ((stop && *stop) || ::GetTickCount() - start >= timeoutMs) return std::nullopt;
    ::Sleep(kPollMs);
  }
}

}  // namespace

std::optional<EraseDialogSeen> AnswerEraseDialog(bool erase, DWORD timeoutMs,
                                                 const std::function<void()>& beforeAnswer) {
  return AnswerOnce(erase, timeoutMs, nullptr, [&](const EraseDialogSeen&) {
    if (beforeAnswer) beforeAnswer();
  });
}

EraseDialogAnswerer::EraseDialogAnswerer(bool erase) : erase_(erase) {
  thread_ = std::thread([this] {
    while (!stop_) {
      AnswerOnce(erase_, 200, &stop_, [this](const EraseDialogSeen& seen) {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(seen);
      });
    }
  });
}

EraseDialogAnswerer::~EraseDialogAnswerer() {
  stop_ = true;
  thread_.join();
}

std::vector<EraseDialogSeen> EraseDialogAnswerer::seen() {
  std::lock_guard<std::mutex> lock(mutex_);
  return seen_;
}

}  // namespace vdtest
