#include "set_notifier_dlg.h"

#include <commctrl.h>

#include <cwchar>

#include "common_ids.h"
#include "dpi.h"
#include "language_manager.h"
#include "ui_texts.h"
#include "window_attach.h"

namespace vd {

namespace {

class SetNotifierDlg : public AttachedWindow {
 public:
  explicit SetNotifierDlg(const NotifierSettingsLocation& where) : where_(where) {}

  SetNotifierResult result;

 private:
  friend struct ::vd::WindowAttach;
  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  BOOL OnInitDialog();
  void OnEnableClicked();
  void OnMinutesChanged();
  void OnSpin();
  void OnOk();
  void EnableInterval(bool on);
  void ShowMinutes();
  bool Checked() const { return ::IsDlgButtonChecked(hwnd_, IDC_NOTIFIER_ENABLE) == BST_CHECKED; }
  std::wstring EditText() const;

  NotifierSettingsLocation where_;
  unsigned minutes_ = kMinNotifierMinutes;
  bool settingText_ = false;  // our own edit update must not be taken for the user's typing
  DialogDpiScaler dpi_;
};

// The integer at the start of the text, as the C library reads it: blanks, a sign, digits; 0 otherwise.
long long LeadingInteger(const std::wstring& text) {
  return std::wcstoll(text.c_str(), nullptr, 10);
}

std::wstring SetNotifierDlg::EditText() const {
  wchar_t buf[64] = {};
  ::GetDlgItemTextW(hwnd_, IDC_NOTIFIER_MINUTES, buf, 64);
  return buf;
}

void SetNotifierDlg::EnableInterval(bool on) {
  ::EnableWindow(::GetDlgItem(hwnd_, IDC_NOTIFIER_MINUTES), on);
  ::EnableWindow(::GetDlgItem(hwnd_, IDC_NOTIFIER_SPIN), on);
}

void SetNotifierDlg::ShowMinutes() {
  const std::wstring text = std::to_wstring(minutes_);
  if (EditText() == text) return;  // rewriting equal text would move the caret under the user's typing
  HWND edit = ::GetDlgItem(hwnd_, IDC_NOTIFIER_MINUTES);
  settingText_ = true;
  ::SetWindowTextW(edit, text.c_str());
  settingText_ = false;
  ::SendMessageW(edit, EM_SETSEL, text.size(), text.size());
}

BOOL SetNotifierDlg::OnInitDialog() {
  TranslateDialog(hwnd_, IDD_SET_NOTIFIER);
  ::SetDlgItemTextW(hwnd_, IDC_NOTIFIER_ENABLE, Text(ui_text::kNotifierEnable).c_str());
  ::SetDlgItemTextW(hwnd_, IDC_NOTIFIER_INTERVAL_LABEL, Text(ui_text::kNotifierInterval).c_str());
  ::SetDlgItemTextW(hwnd_, IDC_NOTIFIER_MINUTES_LABEL, Text(ui_text::kNotifierMinutes).c_str());
  HWND spin = ::GetDlgItem(hwnd_, IDC_NOTIFIER_SPIN);
  ::SendMessageW(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(::GetDlgItem(hwnd_, IDC_NOTIFIER_MINUTES)), 0);
  ::SendMessageW(spin, UDM_SETRANGE32, kMinNotifierMinutes, kMaxNotifierMinutes);

  const NotifierValues stored = ReadNotifierValues(where_);
  if (stored.isNotifier) {
    ::CheckDlgButton(hwnd_, IDC_NOTIFIER_ENABLE, *stored.isNotifier ? BST_CHECKED : BST_UNCHECKED);
    EnableInterval(*stored.isNotifier != 0);
  }
  if (stored.timeSpan) minutes_ = ClampNotifierMinutes(*stored.timeSpan);
  ShowMinutes();
  ::SendMessageW(spin, UDM_SETPOS32, 0, minutes_);
  ::SetWindowTextW(hwnd_, Text(ui_text::kNotifierTitle).c_str());
  return TRUE;
}

void SetNotifierDlg::OnEnableClicked() {
  const bool on = Checked();
  EnableInterval(on);
  if (on) ShowMinutes();
}

void SetNotifierDlg::OnMinutesChanged() {
  if (settingText_) return;
  minutes_ = MinutesFromEditText(EditText(), minutes_);
  ShowMinutes();
}

void SetNotifierDlg::OnSpin() { minutes_ = ClampNotifierMinutes(LeadingInteger(EditText())); }

void SetNotifierDlg::OnOk() {
  // Controls are read back at OK; the edit already holds a clamped value unless it is being typed in.
  minutes_ = MinutesFromEditText(EditText(), minutes_);
  result.ok = true;
  result.enabledAtOk = Checked();
  result.minutes = minutes_;
  SaveNotifierSettings(result.enabledAtOk, minutes_, where_);  // a key that cannot be made skips the writes only
  ::EndDialog(hwnd_, IDOK);
}

INT_PTR SetNotifierDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG: return OnInitDialog();
    case kDpiChangedMessage: return dpi_.OnDpiChanged(hwnd_, lp);
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case IDC_NOTIFIER_ENABLE:
          if (HIWORD(wp) == BN_CLICKED) OnEnableClicked();
          return TRUE;
        case IDC_NOTIFIER_MINUTES:
          if (HIWORD(wp) == EN_CHANGE) OnMinutesChanged();
          return TRUE;
        case IDOK: OnOk(); return TRUE;
        case IDCANCEL: ::EndDialog(hwnd_, IDCANCEL); return TRUE;
        default: break;
      }
      break;
    case WM_VSCROLL:
      if (reinterpret_cast<HWND>(lp) == ::GetDlgItem(hwnd_, IDC_NOTIFIER_SPIN)) OnSpin();
      return TRUE;
    default: break;
  }
  return FALSE;
}

}  // namespace

unsigned MinutesFromEditText(const std::wstring& typed, unsigned current) {
  if (typed.size() > 3) return current;
  return ClampNotifierMinutes(LeadingInteger(typed));
}

SetNotifierResult RunSetNotifierDlg(HWND owner, HINSTANCE module, const NotifierSettingsLocation& where) {
  if (!module) module = ::GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_UPDOWN_CLASS};
  ::InitCommonControlsEx(&icc);
  SetNotifierDlg dlg(where);
  ::DialogBoxParamW(module, MAKEINTRESOURCEW(IDD_SET_NOTIFIER), owner, DialogProcOf<SetNotifierDlg>,
                    reinterpret_cast<LPARAM>(&dlg));
  return dlg.result;
}

}  // namespace vd
