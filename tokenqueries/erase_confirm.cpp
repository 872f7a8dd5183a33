#include "erase_confirm.h"

#include <windows.h>

#include <map>

#include "erase_confirm_ids.h"
#include "erase_texts.h"
#include "handles.h"
#include "language_manager.h"
#include "own_module.h"
#include "product.h"
#include "registry.h"
#include "text.h"
#include "trusted_origins.h"
#include "window_attach.h"

namespace tq {
namespace {

constexpr UINT_PTR kTimeoutTimer = 1;
constexpr UINT_PTR kGuardTimer = 2;
// How long the question takes no answer after it shows and after each time it is activated: a person
// typing in a form, or a click a page arranged to land where the question opens, must not answer it.
constexpr UINT kGuardMs = 1000;

// A mnemonic would let one stray key erase the token: the button's text loses "(&E)" and every single
// "&", whatever a language file says ("&&" still shows one "&").
std::wstring WithoutMnemonic(const std::wstring& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'(' && i + 3 < text.size() && text[i + 1] == L'&' && text[i + 3] == L')') {
      i += 3;
      continue;
    }
    if (text[i] == L'&' && i + 1 < text.size() && text[i + 1] == L'&') {
      out += L"&&";
      ++i;
      continue;
    }
    if (text[i] == L'&') continue;
    out += text[i];
  }
  while (!out.empty() && out.back() == L' ') out.pop_back();
  return out;
}

// Keys and clicks that would reach the question while it guards itself.
bool IsUserInput(UINT msg) {
  return (msg >= WM_KEYFIRST && msg <= WM_KEYLAST) || (msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST && msg != WM_MOUSEMOVE) ||
         (msg >= WM_NCLBUTTONDOWN && msg <= WM_NCXBUTTONDBLCLK && msg != WM_NCMOUSEMOVE);
}

// The process's one question and the origins whose question the user cancelled, with when. Built before
// any thread could ask (a function-local static would need thread-safe initialisation the XP runtime
// lacks).
struct QuestionGate {
  vd::CriticalSection lock;
  bool open = false;
  std::map<std::string, DWORD> cancelledAt;

  bool RefusesLocked(const std::string& origin) {
    if (open) return true;
    auto it = cancelledAt.find(origin);
    if (it == cancelledAt.end()) return false;
    if (::GetTickCount() - it->second < kRefusalAfterCancelMs) return true;
    cancelledAt.erase(it);
    return false;
  }
};
QuestionGate g_gate;

// Characters that would let a label or serial pose as another part of the question, or hide: controls,
// line and paragraph breaks, bidirectional controls, invisible format characters, and the double quote
// the question puts around the label.
bool Misleads(wchar_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == L'"' || c == 0x061C || c == 0x00AD ||
         (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x2069) ||
         c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

std::wstring Shown(std::wstring text) {
  constexpr wchar_t kMark = 0xFFFD;
  for (wchar_t& c : text) {
    if (Misleads(c)) c = kMark;
  }
  return text;
}

// The plug-in and the host ship beside vardeck and read its language files, found as vardeck finds them
// but from this module's own folder. Configured once: the user's language does not change under a page.
void ConfigureLanguageOnce() {
  static bool configured = false;
  if (configured) return;
  configured = true;
  std::wstring path = vd::RegReadString(HKEY_LOCAL_MACHINE, vd::kProduct.installKey, L"Path").value_or(L"");
  if (path.size() > 259) path.resize(259);
  wchar_t module[MAX_PATH] = {};
  ::GetModuleFileNameW(OwnModule(), module, MAX_PATH);
  vd::LanguageManager& lang = vd::LanguageManager::Instance();
  lang.SetLanguageId(vd::DefaultLanguageId());
  lang.SetLanguageBaseName(vd::kProduct.langBaseName);
  lang.SetLanguageDirectory(vd::LanguageDirectory(path, module));
}

class EraseDialog : public vd::AttachedWindow {
 public:
  explicit EraseDialog(const EraseQuestion& question) : question_(question) {}

  bool finished() const { return finished_; }
  bool erase() const { return erase_; }
  // True when the user answered "no" (Cancel, Escape, Enter, closing the window), not the clock or the caller.
  bool userCancelled() const { return userCancelled_; }
  void Withdraw() { Finish(false); }
  // True while keys and clicks are to be dropped before they reach the dialog.
  bool guarding() const { return guarding_; }

 private:
  friend struct ::vd::WindowAttach;

  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
      case WM_INITDIALOG:
        return OnInitDialog();
      case WM_COMMAND:
        // A command that arrives while the buttons are off came from no person's deliberate answer.
        if ((LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) && !guarding_) Answer(LOWORD(wp) == IDOK);
        return TRUE;
      case WM_ACTIVATE:
        if (LOWORD(wp) != WA_INACTIVE) Guard();
        return FALSE;
      case WM_TIMER:
        if (wp == kTimeoutTimer) Finish(false);
        if (wp == kGuardTimer) EndGuard();
        return TRUE;
      case WM_CLOSE:
        Answer(false);
        return TRUE;
      default:
        return FALSE;
    }
  }

  INT_PTR OnInitDialog() {
    ::SetWindowTextW(hwnd_, vd::Text(vd::erase_text::kTitle).c_str());
    const std::wstring request = vd::FormatText(
        vd::erase_text::kRequest, {question_.origin.c_str(), question_.label.c_str(), question_.serial.c_str()});
    ::SetDlgItemTextW(hwnd_, IDC_ERASE_REQUEST, request.c_str());
    ::SetDlgItemTextW(hwnd_, IDC_ERASE_WARNING, vd::Text(vd::erase_text::kWarning).c_str());
    ::SetDlgItemTextW(hwnd_, IDC_ERASE_ADVICE, vd::Text(vd::erase_text::kAdvice).c_str());
    ::SetDlgItemTextW(hwnd_, IDOK, WithoutMnemonic(vd::Text(vd::erase_text::kErase)).c_str());
    ::SetDlgItemTextW(hwnd_, IDCANCEL, vd::Text(vd::erase_text::kCancel).c_str());
    // A shared system icon: nothing to destroy.
    ::SendDlgItemMessageW(hwnd_, IDC_ERASE_ICON, STM_SETICON,
                          reinterpret_cast<WPARAM>(::LoadIconW(nullptr, MAKEINTRESOURCEW(32515))), 0);
    // No owner window of ours to sit above: the question must not hide behind the browser.
    ::SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetForegroundWindow(hwnd_);
    ::SetTimer(hwnd_, kTimeoutTimer, kEraseQuestionTimeoutMs, nullptr);
    Guard();
    return FALSE;  // the focus is set when the guard ends
  }

  // Both buttons off, input dropped, for kGuardMs from now.
  void Guard() {
    if (finished_) return;
    guarding_ = true;
    ::EnableWindow(::GetDlgItem(hwnd_, IDOK), FALSE);
    ::EnableWindow(::GetDlgItem(hwnd_, IDCANCEL), FALSE);
    ::SetFocus(hwnd_);
    ::SetTimer(hwnd_, kGuardTimer, kGuardMs, nullptr);
  }

  void EndGuard() {
    ::KillTimer(hwnd_, kGuardTimer);
    guarding_ = false;
    ::EnableWindow(::GetDlgItem(hwnd_, IDOK), TRUE);
    ::EnableWindow(::GetDlgItem(hwnd_, IDCANCEL), TRUE);
    // Cancel is the default and has the focus, so that Enter or Space keeps the token.
    ::SendMessageW(hwnd_, DM_SETDEFID, IDCANCEL, 0);
    ::SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(hwnd_, IDCANCEL)), TRUE);
  }

  void Answer(bool erase) {
    if (!finished_) userCancelled_ = !erase;
    Finish(erase);
  }

  void Finish(bool erase) {
    if (finished_) return;
    finished_ = true;
    erase_ = erase;
    ::KillTimer(hwnd_, kTimeoutTimer);
    ::KillTimer(hwnd_, kGuardTimer);
    ::ShowWindow(hwnd_, SW_HIDE);
  }

  const EraseQuestion& question_;
  bool finished_ = false;
  bool erase_ = false;
  bool guarding_ = false;
  bool userCancelled_ = false;
};

// Runs the dialog's messages until it is answered or `withdrawn` is signalled.
void RunQuestion(HWND wnd, EraseDialog& dialog, HANDLE withdrawn) {
  MSG msg;
  while (!dialog.finished()) {
    const DWORD handles = withdrawn ? 1 : 0;
    const DWORD woke = ::MsgWaitForMultipleObjects(handles, withdrawn ? &withdrawn : nullptr, FALSE, INFINITE, QS_ALLINPUT);
    if (withdrawn && woke == WAIT_OBJECT_0) {
      dialog.Withdraw();
      return;
    }
    if (woke == WAIT_FAILED) return;
    while (!dialog.finished() && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // The caller's loop must still see the quit it asked for.
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      if (dialog.guarding() && IsUserInput(msg.message) && (msg.hwnd == wnd || ::IsChild(wnd, msg.hwnd))) continue;
      if (!::IsDialogMessageW(wnd, &msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
    }
  }
}

}  // namespace

EraseQuestion QuestionFor(std::string_view origin, const EraseCandidate& candidate) {
  const std::string key = NormaliseOrigin(origin);
  return {key, Shown(vd::Utf8ToWide(DisplayOrigin(key.empty() ? std::string(origin) : key))),
          Shown(vd::Utf8ToWide(candidate.label)), Shown(vd::AnsiToWide(candidate.serial))};
}

bool MayAskToErase(std::string_view origin) {
  vd::CsLock lock(g_gate.lock);
  return !g_gate.RefusesLocked(NormaliseOrigin(origin));
}

bool AskToErase(const EraseQuestion& question, const QuestionControl& control) {
  {
    vd::CsLock lock(g_gate.lock);
    if (g_gate.RefusesLocked(question.originKey)) return false;
    g_gate.open = true;
  }
  ConfigureLanguageOnce();
  EraseDialog dialog(question);
  // A modeless dialog with a loop of our own: DialogBox under Wine returns seconds after the answer.
  HWND wnd = ::CreateDialogParamW(OwnModule(), MAKEINTRESOURCEW(IDD_ERASE_CONFIRM), nullptr,
                                  vd::DialogProcOf<EraseDialog>, reinterpret_cast<LPARAM>(&dialog));
  if (wnd) {
    ::ShowWindow(wnd, SW_SHOW);
    if (control.opened) {
      try {
        control.opened();
      } catch (...) {
        // The question stands whether or not the caller could be told.
      }
    }
    RunQuestion(wnd, dialog, control.withdrawn);
  }
  const bool erase = wnd && dialog.finished() && dialog.erase() &&
                     !(control.withdrawn && ::WaitForSingleObject(control.withdrawn, 0) == WAIT_OBJECT_0);
  if (wnd) ::DestroyWindow(wnd);
  vd::CsLock lock(g_gate.lock);
  g_gate.open = false;
  if (dialog.userCancelled()) g_gate.cancelledAt[question.originKey] = ::GetTickCount();
  return erase;
}

EraseConsent ConsentOfTheUser(std::string origin, QuestionControl control) {
  return [origin = std::move(origin), control = std::move(control)](const EraseCandidate& candidate) {
    return AskToErase(QuestionFor(origin, candidate), control);
  };
}

}  // namespace tq
