#include "change_pin_dialog.h"

#include <windowsx.h>

#include <vector>

#include "language_manager.h"
#include "secure_ids.h"
#include "secure_text.h"
#include "token_dialogs.h"

namespace vd {
namespace {

constexpr INT_PTR kResultOk = 1;
constexpr INT_PTR kResultCancelled = 2;

void CentreOnScreen(HWND hwnd) {
  RECT r{};
  ::GetWindowRect(hwnd, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  ::SetWindowPos(hwnd, nullptr, (::GetSystemMetrics(SM_CXSCREEN) - w) / 2, (::GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0,
                 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool IsPinEdit(WORD id) { return id == IDC_OLD_PIN || id == IDC_NEW_PIN || id == IDC_CONFIRM_PIN; }

std::wstring WindowText(HWND hwnd) {
  wchar_t buf[256] = {};
  ::GetWindowTextW(hwnd, buf, 256);
  return buf;
}

}  // namespace

INT_PTR ChangePinDialog::Run(HINSTANCE module, HWND owner) {
  return ::DialogBoxParamW(module, MAKEINTRESOURCEW(IDD_CHANGE_PIN), owner, DialogProcOf<ChangePinDialog>,
                           reinterpret_cast<LPARAM>(this));
}

void ChangePinDialog::End(INT_PTR result) { ::EndDialog(hwnd_, result); }

bool ChangePinDialog::OnInitDialog() {
  CentreOnScreen(hwnd_);
  if (!controller_.Attach(hwnd_) || !controller_.Initialise()) return false;
  TranslateDialog(hwnd_, IDD_CHANGE_PIN);
  int minimum = controller_.Limits().tokenMinimum;
  int maximum = controller_.Limits().tokenMaximum;
  if (options_.isolated) {
    CSecEdit* newPin = controller_.Edit(IDC_NEW_PIN);
    minimum = newPin ? newPin->MinimumLength() : 0;
    maximum = static_cast<int>(::SendDlgItemMessageW(hwnd_, IDC_NEW_PIN, EM_GETLIMITTEXT, 0, 0));
  } else {
    ::SetDlgItemTextW(hwnd_, IDC_PIN_ADVICE, Text(secure_text::kPlainAdvice).c_str());
  }
  ::SetDlgItemTextW(hwnd_, IDC_NEW_PIN_LABEL, FormatText(secure_text::kNewPinLabel, {minimum, maximum}).c_str());
  if (options_.forced) ::EnableWindow(::GetDlgItem(hwnd_, IDCANCEL), FALSE);
  ::SetForegroundWindow(hwnd_);
  ::SetFocus(::GetDlgItem(hwnd_, IDC_OLD_PIN));
  UpdateOkButton();
  return true;
}

bool ChangePinDialog::OkAllowed() const {
  std::vector<PinEditState> states;
  for (const auto& [id, edit] : controller_.Edits()) states.push_back({edit->Length(), edit->MinimumLength()});
  CSecEdit* newPin = controller_.Edit(IDC_NEW_PIN);
  CSecEdit* confirmation = controller_.Edit(IDC_CONFIRM_PIN);
  return newPin && confirmation && OkButtonEnabled(states, newPin->Length(), confirmation->Length());
}

void ChangePinDialog::UpdateOkButton() { ::EnableWindow(::GetDlgItem(hwnd_, IDOK), OkAllowed()); }

void ChangePinDialog::OnOk() {
  CSecEdit* oldEdit = controller_.Edit(IDC_OLD_PIN);
  CSecEdit* newEdit = controller_.Edit(IDC_NEW_PIN);
  CSecEdit* confirmEdit = controller_.Edit(IDC_CONFIRM_PIN);
  // IDOK also arrives from Enter and from other programs while the button is disabled: an empty or too
  // short PIN must not pass then either.
  if (!oldEdit || !newEdit || !confirmEdit || !OkAllowed()) return;
  SecretWide newPin, confirmation;
  newEdit->ReadContent(newPin.get());
  confirmEdit->ReadContent(confirmation.get());
  if (const TextEntry* failed = FirstFailedPinRule(newPin.get(), confirmation.get())) {
    newEdit->Clear();
    confirmEdit->Clear();
    ::SetFocus(newEdit->Window());
    controller_.SyncCheckBox(false);
    ::MessageBoxW(hwnd_, Text(*failed).c_str(), WindowText(hwnd_).c_str(), MB_OK | MB_ICONINFORMATION);
    return;
  }
  oldEdit->ReadContent(controller_.OldPin());
  controller_.NewPin().assign(newPin.get());  // the copy's capacity was reserved: no reallocation
  PrepareSecret(oldPinSink_);
  PrepareSecret(newPinSink_);
  oldPinSink_.assign(controller_.OldPin());
  newPinSink_.assign(controller_.NewPin());
  controller_.WipeCopies();
  End(kResultOk);
}

void ChangePinDialog::OnCommand(WORD id, WORD code) {
  if (IsPinEdit(id) && code == CSecEdit::kContentChanged) {
    UpdateOkButton();
  } else if (IsPinEdit(id) && code == EN_SETFOCUS) {
    controller_.SetActiveEdit(id);
  } else if (id == IDC_SOFT_KEYBOARD && code == BN_CLICKED) {
    controller_.OnCheckBoxToggled();
  } else if (id == IDOK && code == BN_CLICKED) {
    OnOk();
  } else if (id == IDCANCEL) {
    End(kResultCancelled);
  }
}

INT_PTR ChangePinDialog::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      if (!OnInitDialog()) {
        End(kResultCancelled);
        return TRUE;
      }
      if (onOpened) onOpened(hwnd_);
      return FALSE;  // the focus is set
    case WM_COMMAND:
      OnCommand(LOWORD(wp), HIWORD(wp));
      return TRUE;
    case WM_LBUTTONDOWN:
      controller_.OnMouseClick(static_cast<UINT>(wp), GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
      return TRUE;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      ::BeginPaint(hwnd_, &ps);
      ::EndPaint(hwnd_, &ps);
      controller_.OnPaint();
      return TRUE;
    }
    case WM_KEYUP:
      if (wp == VK_ESCAPE) End(kResultCancelled);
      return TRUE;
    case WM_CLOSE:
      End(kResultCancelled);
      return TRUE;
    case kDpiChangedMessage:
      return dpi_.OnDpiChanged(hwnd_, lp);
    case kTokenRemovedMessage:
      End(kTokenRemovedResult);
      return TRUE;
    case WM_DESTROY:
      controller_.Release();
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace vd
