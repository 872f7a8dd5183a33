// The secure edit's object: attachment, the enciphered content and the operations the dialog calls.
#include "sec_edit.h"

#include <cstring>

#include "rc4.h"

namespace vd {
namespace {

constexpr wchar_t kProperty[] = L"CSecEdit";
// Every byte the content can take as UTF-16, so that neither vector ever reallocates.
constexpr size_t kCipherCapacity = (SecretText::kCapacity + 1) * sizeof(wchar_t);

}  // namespace

std::atomic<CSecEdit*> CSecEdit::current_{nullptr};
HINSTANCE CSecEdit::hookModule_ = nullptr;

CSecEdit::CSecEdit() {
  cipher_.reserve(kCipherCapacity);
  previousCipher_.reserve(kCipherCapacity);
  keyReady_ = SystemRandom(key_, sizeof key_);
}

CSecEdit::~CSecEdit() {
  for (int slot = 1; slot <= kHookSlots; ++slot) RemoveHook(slot);
  if (edit_ && ::IsWindow(edit_)) {
    for (UINT_PTR id = 1; id <= kHookSlots; ++id) ::KillTimer(edit_, id);
  }
  CSecEdit* self = this;
  current_.compare_exchange_strong(self, nullptr);
  Detach();
  WipeMemory(key_, sizeof key_);
  WipeMemory(cipher_.data(), cipher_.capacity());
  WipeMemory(previousCipher_.data(), previousCipher_.capacity());
}

CSecEdit* CSecEdit::FromWindow(HWND edit) {
  return edit ? static_cast<CSecEdit*>(::GetPropW(edit, kProperty)) : nullptr;
}

bool CSecEdit::Attach(HWND edit) {
  if (!keyReady_ || !edit || !::IsWindow(edit) || edit_) return false;
  if (!::SetPropW(edit, kProperty, this)) return false;
  edit_ = edit;
  current_ = this;
  // An edit of a dialog template may take 30000 characters; the hidden buffer takes fewer.
  LRESULT limit = ::SendMessageW(edit, EM_GETLIMITTEXT, 0, 0);
  if (limit <= 0 || static_cast<size_t>(limit) >= SecretText::kCapacity)
    ::SendMessageW(edit, EM_LIMITTEXT, SecretText::kCapacity - 1, 0);
  previous_ = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CSecEdit::SubclassProc)));
  // An edit that took the focus before it was taken over (a dialog's activation focuses its first control)
  // would never see the WM_SETFOCUS that makes it active.
  if (::GetFocus() == edit) GainFocus();
  return true;
}

// Removes the subclass while the window is still valid, so that no message reaches a freed object.
void CSecEdit::Detach() {
  if (!edit_) return;
  if (::IsWindow(edit_)) {
    if (::GetPropW(edit_, kProperty) == this) ::RemovePropW(edit_, kProperty);
    if (previous_ && reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(edit_, GWLP_WNDPROC)) == &CSecEdit::SubclassProc)
      ::SetWindowLongPtrW(edit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
  }
  edit_ = nullptr;
}

bool CSecEdit::InsertCharacter(wchar_t ch) {
  const bool letterOrDigit = (ch >= L'a' && ch <= L'z') || (ch >= L'A' && ch <= L'Z') || (ch >= L'0' && ch <= L'9');
  if (!letterOrDigit || !edit_ || !active_) return false;
  if (::SendMessageW(edit_, WM_CHAR, L'*', 0) == 0) return false;
  Update(ch, EditKind::kInsert);
  return true;
}

void CSecEdit::ReadContent(std::wstring& out) {
  PrepareSecret(out);
  Decipher();
  out.append(plain_.data(), plain_.size());  // within the reserved capacity
  plain_.Wipe();
}

int CSecEdit::Length() const { return edit_ ? ::GetWindowTextLengthW(edit_) : 0; }

void CSecEdit::Clear() {
  plain_.Wipe();
  WipeMemory(cipher_.data(), cipher_.size());
  cipher_.clear();
  WipeMemory(previousCipher_.data(), previousCipher_.size());
  previousCipher_.clear();
  if (edit_) ::SetWindowTextW(edit_, L"");
  Notify();
}

EditSelection CSecEdit::ReadSelection() const {
  DWORD start = 0, end = 0;
  if (edit_) ::SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  if (start > end) std::swap(start, end);
  return EditSelection{start, end};
}

void CSecEdit::Update(wchar_t ch, EditKind kind) {
  if (ch < 32 || ch > 126 || !edit_) return;
  const size_t limit = static_cast<size_t>(::SendMessageW(edit_, EM_GETLIMITTEXT, 0, 0));
  const size_t length = static_cast<size_t>(::GetWindowTextLengthW(edit_));
  previousCipher_.assign(cipher_.begin(), cipher_.end());
  Decipher();
  EditOutcome outcome = ApplyEdit(plain_, before_, kind, ch, length, limit);
  Encipher();
  if (outcome == EditOutcome::kApplied) Notify();
}

void CSecEdit::Encipher() {
  WipeMemory(cipher_.data(), cipher_.size());
  cipher_.clear();
  if (!plain_.empty()) {
    const size_t bytes = plain_.size() * sizeof(wchar_t);
    cipher_.resize(bytes);  // within the reserved capacity
    std::memcpy(cipher_.data(), plain_.data(), bytes);
    Rc4Apply(key_, sizeof key_, cipher_.data(), bytes);
  }
  plain_.Wipe();
}

// Deciphers straight into the hidden buffer; the bytes never pass through another one.
void CSecEdit::Decipher() {
  plain_.Wipe();
  const size_t chars = cipher_.size() / sizeof(wchar_t);
  if (chars == 0 || chars > SecretText::kCapacity) return;
  wchar_t* into = plain_.buffer();
  std::memcpy(into, cipher_.data(), chars * sizeof(wchar_t));
  Rc4Apply(key_, sizeof key_, reinterpret_cast<uint8_t*>(into), chars * sizeof(wchar_t));
  plain_.TakeFilledBuffer(chars);
}

void CSecEdit::Notify() {
  if (!edit_) return;
  HWND parent = ::GetParent(edit_);
  if (!parent) return;
  const int id = ::GetDlgCtrlID(edit_);
  ::PostMessageW(parent, WM_COMMAND, MAKEWPARAM(id, kContentChanged), reinterpret_cast<LPARAM>(edit_));
}

int CSecEdit::InstalledHooks() const {
  int n = 0;
  for (HHOOK h : hooks_) n += h != nullptr;
  return n;
}

}  // namespace vd
