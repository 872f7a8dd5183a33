#include "erase_confirm.h"

#include <windows.h>

#include "erase_confirm_ids.h"
#include "erase_texts.h"
#include "language_manager.h"
#include "own_module.h"
#include "product.h"
#include "registry.h"
#include "text.h"
#include "window_attach.h"

namespace tq {
namespace {

constexpr UINT_PTR kTimeoutTimer = 1;

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

 private:
  friend struct ::vd::WindowAttach;

  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
      case WM_INITDIALOG:
        return OnInitDialog();
      case WM_COMMAND:
        if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) Finish(LOWORD(wp) == IDOK);
        return TRUE;
      case WM_TIMER:
        if (wp == kTimeoutTimer) Finish(false);
        return TRUE;
      case WM_CLOSE:
        Finish(false);
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
    ::SetDlgItemTextW(hwnd_, IDOK, vd::Text(vd::erase_text::kErase).c_str());
    ::SetDlgItemTextW(hwnd_, IDCANCEL, vd::Text(vd::erase_text::kCancel).c_str());
    // A shared system icon: nothing to destroy.
    ::SendDlgItemMessageW(hwnd_, IDC_ERASE_ICON, STM_SETICON,
                          reinterpret_cast<WPARAM>(::LoadIconW(nullptr, MAKEINTRESOURCEW(32515))), 0);
    // No owner window of ours to sit above: the question must not hide behind the browser.
    ::SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetForegroundWindow(hwnd_);
    ::SetTimer(hwnd_, kTimeoutTimer, kEraseQuestionTimeoutMs, nullptr);
    ::SetFocus(::GetDlgItem(hwnd_, IDCANCEL));
    return FALSE;  // the focus is set
  }

  void Finish(bool erase) {
    if (finished_) return;
    finished_ = true;
    erase_ = erase;
    ::KillTimer(hwnd_, kTimeoutTimer);
    ::ShowWindow(hwnd_, SW_HIDE);
  }

  const EraseQuestion& question_;
  bool finished_ = false;
  bool erase_ = false;
};

}  // namespace

EraseQuestion QuestionFor(std::string_view origin, const EraseCandidate& candidate) {
  return {vd::Utf8ToWide(origin), vd::Utf8ToWide(candidate.label), vd::AnsiToWide(candidate.serial)};
}

bool AskToErase(const EraseQuestion& question) {
  ConfigureLanguageOnce();
  EraseDialog dialog(question);
  // A modeless dialog with a loop of our own: DialogBox under Wine returns seconds after the answer.
  HWND wnd = ::CreateDialogParamW(OwnModule(), MAKEINTRESOURCEW(IDD_ERASE_CONFIRM), nullptr,
                                  vd::DialogProcOf<EraseDialog>, reinterpret_cast<LPARAM>(&dialog));
  if (!wnd) return false;
  ::ShowWindow(wnd, SW_SHOW);
  MSG msg;
  while (!dialog.finished()) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      // The caller's loop must still see the quit it asked for.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (!::IsDialogMessageW(wnd, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  const bool erase = dialog.finished() && dialog.erase();
  ::DestroyWindow(wnd);
  return erase;
}

EraseConsent ConsentOfTheUser(std::string origin) {
  return [origin = std::move(origin)](const EraseCandidate& candidate) {
    return AskToErase(QuestionFor(origin, candidate));
  };
}

}  // namespace tq
