#include "pin_dialog_controller.h"

#include <algorithm>

namespace vd {

PinDialogController::~PinDialogController() = default;

void PinDialogController::Release() {
  for (auto& [id, edit] : edits_) edit->Clear();
  window_ = nullptr;
}

bool PinDialogController::Attach(HWND dialog) {
  if (!IsValid(dialog)) return false;
  window_ = dialog;
  return true;
}

bool PinDialogController::Initialise() {
  if (!window_) return false;
  PrepareWindow();
  keyboardSize_ = SoftKeyboardSizeOfDisplay();
  keyboard_.BuildLayout();
  keyboard_.ShuffleDigits(true);
  return true;
}

void PinDialogController::Reset() {
  keyboardShown_ = false;
  keyboardSize_ = SIZE{};
  activeEdit_ = 0;
}

bool PinDialogController::IsValid(HWND window) const {
  if (!window || !::IsWindow(window) || !::GetDlgItem(window, checkBoxId_)) return false;
  for (const auto& [id, edit] : edits_)
    if (!::GetDlgItem(window, id)) return false;
  return true;
}

bool PinDialogController::RegisterEdit(int id) {
  HWND control = window_ ? ::GetDlgItem(window_, id) : nullptr;
  if (!control || edits_.count(id)) return false;
  auto edit = std::make_unique<CSecEdit>();
  if (!edit->Attach(control)) return false;
  edits_[id] = std::move(edit);
  return true;
}

CSecEdit* PinDialogController::Edit(int id) const {
  auto it = edits_.find(id);
  return it == edits_.end() ? nullptr : it->second.get();
}

RECT PinDialogController::KeyboardArea() const {
  RECT client{};
  if (window_) ::GetClientRect(window_, &client);
  return RECT{0, std::max(client.top, client.bottom - keyboardSize_.cy), client.right, client.bottom};
}

void PinDialogController::OnMouseClick(UINT, int x, int y) {
  CSecEdit* edit = Edit(activeEdit_);
  if (!keyboardShown_ || !edit) return;
  keyboard_.Click(x, y);
  if (!keyboard_.KeyHit()) return;
  if (keyboard_.IsVirtualKey()) {
    ::PostMessageW(edit->Window(), WM_KEYDOWN, keyboard_.Result(), 1);  // repeat count 1
  } else {
    edit->InsertCharacter(static_cast<wchar_t>(keyboard_.Result()));
  }
}

void PinDialogController::OnCheckBoxToggled() {
  SyncCheckBox(true);
  if (keyboardShown_) {
    keyboard_.ShuffleDigits(true);
    ShowKeyboardLayout();
  } else {
    HideKeyboardLayout();
  }
  if (CSecEdit* edit = Edit(activeEdit_)) ::SetFocus(edit->Window());
}

void PinDialogController::OnPaint() {
  if (keyboardShown_) keyboard_.LayOutAndPaint(window_, KeyboardArea());
}

void PinDialogController::PrepareWindow() {
  ::GetWindowRect(window_, &savedRect_);
  ::SetActiveWindow(window_);
  keyboardShown_ = false;
  ::CheckDlgButton(window_, checkBoxId_, BST_UNCHECKED);
}

void PinDialogController::SyncCheckBox(bool boxToFlag) {
  if (boxToFlag)
    keyboardShown_ = ::IsDlgButtonChecked(window_, checkBoxId_) == BST_CHECKED;
  else
    ::CheckDlgButton(window_, checkBoxId_, keyboardShown_ ? BST_CHECKED : BST_UNCHECKED);
}

void PinDialogController::ShowKeyboardLayout() {
  const int width = std::max<int>(keyboardSize_.cx, savedRect_.right - savedRect_.left);
  const int height = savedRect_.bottom - savedRect_.top + keyboardSize_.cy;
  ::SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(window_, nullptr, TRUE);
}

void PinDialogController::HideKeyboardLayout() {
  ::SetWindowPos(window_, nullptr, 0, 0, savedRect_.right - savedRect_.left, savedRect_.bottom - savedRect_.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(window_, nullptr, TRUE);
}

}  // namespace vd
