#include "option_dlg.h"

#include <optional>

#include "command_texts.h"
#include "commands_ids.h"
#include "dpi.h"
#include "handles.h"
#include "language_manager.h"
#include "registry.h"
#include "window_attach.h"

namespace vd {
namespace {

// The token manager reads the address into a buffer of MAX_PATH characters and ignores a longer one.
constexpr size_t kMaxAddressChars = MAX_PATH - 1;

// What OK decided. Showing starts undecided (-1) and hiding chosen, so that OK without a choice ends
// with the page hidden.
struct OptionChoice {
  bool ok = false;
  int show = -1;
  int hide = 1;
};

class OptionDlg : public AttachedWindow {
 public:
  explicit OptionDlg(const InstallKeyLocation& where) : where_(where) {}
  const OptionChoice& Choice() const { return choice_; }

 private:
  friend struct ::vd::WindowAttach;
  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp);

  BOOL OnInitDialog();
  void OnHideClicked();
  void OnShowClicked();
  void OnOk();
  void EnableAddress(bool on) { ::EnableWindow(::GetDlgItem(hwnd_, IDC_OPTION_ADDRESS), on); }
  void FocusOk() { ::SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(hwnd_, IDOK)), TRUE); }
  bool Checked(int id) const { return ::IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }
  bool WriteAddress(const std::wstring& address) const;

  const InstallKeyLocation& where_;
  OptionChoice choice_;
  std::wstring address_;
  bool optionFlag_ = false;  // the hidden check box's flag; kept for the box, read by nothing
  DialogDpiScaler dpi_;
};

BOOL OptionDlg::OnInitDialog() {
  TranslateDialog(hwnd_, IDD_OPTION);
  ::SendDlgItemMessageW(hwnd_, IDC_OPTION_ADDRESS, EM_LIMITTEXT, kMaxAddressChars, 0);
  bool focused = false;
  if (std::optional<bool> show = ReadPopFlag(where_)) {
    ::CheckRadioButton(hwnd_, IDC_OPTION_HIDE_HOME, IDC_OPTION_SHOW_HOME,
                       *show ? IDC_OPTION_SHOW_HOME : IDC_OPTION_HIDE_HOME);
    EnableAddress(*show);
    FocusOk();
    focused = true;
  }
  // An address longer than the token manager reads counts as absent there, and so here.
  auto address = RegReadString(where_.root, where_.subkey.c_str(), L"http Address");
  if (address && address->size() <= kMaxAddressChars) {
    address_ = *address;
    if (!address_.empty()) ::SetDlgItemTextW(hwnd_, IDC_OPTION_ADDRESS, address_.c_str());
  }
  return focused ? FALSE : TRUE;  // without a stored choice the first control of the template takes the focus
}

void OptionDlg::OnHideClicked() {
  EnableAddress(false);
  FocusOk();
}

void OptionDlg::OnShowClicked() {
  EnableAddress(true);
  FocusOk();
}

bool OptionDlg::WriteAddress(const std::wstring& address) const {
  UniqueRegKey key;
  if (::RegCreateKeyExW(where_.root, where_.subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
    return false;
  return ::RegSetValueExW(key.get(), L"http Address", 0, REG_SZ, reinterpret_cast<const BYTE*>(address.c_str()),
                          static_cast<DWORD>((address.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void OptionDlg::OnOk() {
  if (Checked(IDC_OPTION_HIDE_HOME)) {
    choice_.show = 0;
    choice_.hide = 1;
  } else if (Checked(IDC_OPTION_SHOW_HOME)) {
    choice_.hide = 0;
    choice_.show = 1;
  }
  if (choice_.show == 1) {
    HWND edit = ::GetDlgItem(hwnd_, IDC_OPTION_ADDRESS);
    address_.assign(static_cast<size_t>(::GetWindowTextLengthW(edit)) + 1, L'\0');
    address_.resize(static_cast<size_t>(::GetWindowTextW(edit, address_.data(), static_cast<int>(address_.size()))));
    if (!WriteAddress(address_)) {
      ::MessageBoxW(hwnd_, Text(command_text::kSetUrlFailed).c_str(), Text(command_text::kSetUrlCaption).c_str(),
                    MB_OK | MB_TOPMOST);
    }
  }
  choice_.ok = true;
  ::EndDialog(hwnd_, IDOK);
}

INT_PTR OptionDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case kDpiChangedMessage:
      return dpi_.OnDpiChanged(hwnd_, lp);
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case IDC_OPTION_FLAG:
          if (HIWORD(wp) == BN_CLICKED) optionFlag_ = !optionFlag_;
          return TRUE;
        case IDC_OPTION_HIDE_HOME:
          if (HIWORD(wp) == BN_CLICKED) OnHideClicked();
          return TRUE;
        case IDC_OPTION_SHOW_HOME:
          if (HIWORD(wp) == BN_CLICKED) OnShowClicked();
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
    default:
      break;
  }
  return FALSE;
}

}  // namespace

void RunOptionCommand(HWND owner, const std::wstring& messageCaption, const InstallKeyLocation& where) {
  OptionDlg dlg(where);
  ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_OPTION), owner, DialogProcOf<OptionDlg>,
                    reinterpret_cast<LPARAM>(&dlg));
  const OptionChoice& choice = dlg.Choice();
  if (!choice.ok) return;
  // Hiding wins over an undecided show, so OK without a choice stores "0". One write of the outcome: an
  // intermediate "1" could be read by an insertion in between, and a failing key would be reported twice.
  if (!WritePopFlag(choice.hide == 0, where)) {
    ::MessageBoxW(owner, Text(command_text::kSaveOptionFailed).c_str(), messageCaption.c_str(), MB_OK | MB_ICONSTOP);
  }
}

}  // namespace vd
