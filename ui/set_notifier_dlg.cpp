#include "set_notifier_dlg.h"

#include <commctrl.h>

#include <cwchar>

#include "common_ids.h"
#include "language_manager.h"

namespace vd {

namespace {

class SetNotifierDlg {
 public:
  explicit SetNotifierDlg(const NotifierSettingsLocation& where) : where_(where) {}

  static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

  SetNotifierResult result;

 private:
  BOOL OnInitDialog();
  void OnEnableClicked();
  void OnMinutesChanged();
  void OnSpin();
  void OnOk();
  void EnableInterval(bool on);
  void ShowMinutes();
  bool Checked() const { return ::IsDlgButtonChecked(hwnd_, IDC_NOTIFIER_ENABLE) == BST_CHECKED; }
  std::wstring EditText() const;

  HWND hwnd_ = nullptr;
  NotifierSettingsLocation where_;
  unsigned minutes_ = kMinNotifierMinutes;
  bool settingText_ = false;  // our own edit update must not be taken for the user's typing
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
  ::SetDlgItemTextW(hwnd_, IDC_NOTIFIER_ENABLE, LangString(200110, L"Set Notifier").c_str());
  ::SetDlgItemTextW(hwnd_, IDC_NOTIFIER_INTERVAL_LABEL, LangString(200111, L"Interval of Notifier").c_str());
  ::SetDlgItemTextW(hwnd_, IDC_NOTIFIER_MINUTES_LABEL, LangString(200112, L"Minutes").c_str());
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
  ::SetWindowTextW(hwnd_, LangString(200118, L"Set Notifier").c_str());
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

INT_PTR CALLBACK SetNotifierDlg::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  SetNotifierDlg* self = nullptr;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<SetNotifierDlg*>(lp);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    return self->OnInitDialog();
  }
  self = reinterpret_cast<SetNotifierDlg*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!self) return FALSE;
  switch (msg) {
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case IDC_NOTIFIER_ENABLE:
          if (HIWORD(wp) == BN_CLICKED) self->OnEnableClicked();
          return TRUE;
        case IDC_NOTIFIER_MINUTES:
          if (HIWORD(wp) == EN_CHANGE) self->OnMinutesChanged();
          return TRUE;
        case IDOK: self->OnOk(); return TRUE;
        case IDCANCEL: ::EndDialog(hwnd, IDCANCEL); return TRUE;
        default: break;
      }
      break;
    case WM_VSCROLL:
      if (reinterpret_cast<HWND>(lp) == ::GetDlgItem(hwnd, IDC_NOTIFIER_SPIN)) self->OnSpin();
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
  ::DialogBoxParamW(module, MAKEINTRESOURCEW(IDD_SET_NOTIFIER), owner, &SetNotifierDlg::Proc,
                    reinterpret_cast<LPARAM>(&dlg));
  return dlg.result;
}

}  // namespace vd
