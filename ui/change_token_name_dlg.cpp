#include "change_token_name_dlg.h"

#include "command_texts.h"
#include "commands_ids.h"
#include "dpi.h"
#include "language_manager.h"
#include "text.h"
#include "token_dialogs.h"
#include "token_operations.h"
#include "window_attach.h"

namespace vd {
namespace {

class ChangeTokenNameDlg : public AttachedWindow {
 public:
  ChangeTokenNameDlg(AuxFunctionList* aux, CK_SLOT_ID slot, std::wstring name, const std::function<void(HWND)>& opened)
      : aux_(aux), slot_(slot), name_(std::move(name)), opened_(opened) {}

  bool WasOpened() const { return wasOpened_; }

 private:
  friend struct ::vd::WindowAttach;
  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp);

  BOOL OnInitDialog();
  void OnNameChanged();
  void OnOk();
  std::wstring EditText() const;
  void SetEditText(const std::wstring& text);
  HWND OkButton() const { return ::GetDlgItem(hwnd_, IDOK); }

  AuxFunctionList* aux_;
  CK_SLOT_ID slot_;
  std::wstring name_;  // what the edit holds as last accepted: an undone change returns to it
  const std::function<void(HWND)>& opened_;
  bool wasOpened_ = false;
  bool settingText_ = false;  // our own edit updates are not the user's changes
  DialogDpiScaler dpi_;
};

bool CanConfirm(const std::wstring& name) { return !name.empty() && name.back() != L' '; }

std::wstring ChangeTokenNameDlg::EditText() const {
  HWND edit = ::GetDlgItem(hwnd_, IDC_TOKEN_NAME_EDIT);
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(edit)) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
  return text;
}

void ChangeTokenNameDlg::SetEditText(const std::wstring& text) {
  settingText_ = true;
  ::SetDlgItemTextW(hwnd_, IDC_TOKEN_NAME_EDIT, text.c_str());
  settingText_ = false;
}

BOOL ChangeTokenNameDlg::OnInitDialog() {
  TranslateDialog(hwnd_, IDD_CHANGE_TOKEN_NAME);
  ::SetDlgItemTextW(hwnd_, IDC_TOKEN_NAME_LABEL,
                    FormatText(command_text::kNewNameLabel, {static_cast<int>(kTokenNameMaxBytes)}).c_str());
  ::SetWindowTextW(hwnd_, Text(command_text::kChangeNameTitle).c_str());
  SetEditText(name_);
  // The name as read is not a change yet: OK waits for the user's first edit.
  ::EnableWindow(OkButton(), FALSE);
  wasOpened_ = true;
  if (opened_) opened_(hwnd_);
  return TRUE;
}

void ChangeTokenNameDlg::OnNameChanged() {
  if (settingText_) return;
  const std::wstring typed = EditText();
  if (!typed.empty() && WideToUtf8(typed).size() > kTokenNameMaxBytes) {
    // The label must keep a blank at its end: a change that fills all 32 bytes is taken back.
    SetEditText(name_);
    ::SendDlgItemMessageW(hwnd_, IDC_TOKEN_NAME_EDIT, EM_SETSEL, kTokenNameMaxBytes, kTokenNameMaxBytes);
  } else {
    name_ = typed;
  }
  ::EnableWindow(OkButton(), CanConfirm(name_));
}

void ChangeTokenNameDlg::OnOk() {
  // Enter reaches us even while the button is disabled on some systems; the rule is the button's.
  if (!::IsWindowEnabled(OkButton())) return;
  const CK_RV rv = WriteTokenLabel(aux_, slot_, EditText());
  ::EndDialog(hwnd_, rv == CKR_OK ? IDOK : IDCANCEL);
}

INT_PTR ChangeTokenNameDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case kDpiChangedMessage:
      return dpi_.OnDpiChanged(hwnd_, lp);
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case IDC_TOKEN_NAME_EDIT:
          if (HIWORD(wp) == EN_CHANGE) OnNameChanged();
          return TRUE;
        case IDOK:
          OnOk();
          return TRUE;
        case IDCANCEL:
          ::EndDialog(hwnd_, IDCANCEL);
          return TRUE;
        default:
          break;
      }
      break;
    case kTokenRemovedMessage:
      ::EndDialog(hwnd_, kTokenRemovedResult);
      return TRUE;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

std::optional<std::wstring> RunRenameToken(HWND owner, CK_FUNCTION_LIST* fl, AuxFunctionList* aux, CK_SLOT_ID slot,
                                           const std::function<void(HWND)>& opened,
                                           const std::function<void()>& closed) {
  // Without a bound module there is no label to read or write; the dialog would only end as cancelled.
  if (!fl) return std::nullopt;
  std::string label;
  ReadTokenLabel(fl, slot, &label);  // a token that cannot be read opens with an empty name
  ChangeTokenNameDlg dlg(aux, slot, Utf8ToWide(label), opened);
  const INT_PTR result =
      ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CHANGE_TOKEN_NAME), owner,
                        DialogProcOf<ChangeTokenNameDlg>, reinterpret_cast<LPARAM>(&dlg));
  if (dlg.WasOpened() && closed) closed();
  if (result != IDOK) return std::nullopt;

  // The item shows what the token holds now, which need not be what was typed.
  if (ReadTokenLabel(fl, slot, &label) != CKR_OK) return std::nullopt;
  return Utf8ToWide(Utf8Prefix(label, kTokenNameMaxBytes));
}

}  // namespace vd
