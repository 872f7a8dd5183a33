// The secure edit's keyboard hooks: three low-level hooks, re-installed by three timers so that one of
// them is always the most recently installed hook and sees keys before any other program's.
#include "sec_edit.h"

namespace vd {
namespace {

constexpr UINT kRefreshPeriodMs = 1;  // the system raises it to its minimum

bool WindowsKeyDown() {
  return (::GetAsyncKeyState(VK_LWIN) & 0x8000) || (::GetAsyncKeyState(VK_RWIN) & 0x8000);
}

bool IsLetterOrDigit(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

// Inside a low-level hook the thread's keyboard state may not show a modifier pressed just before; the
// asynchronous state and the toggle state do.
void ModifiersIntoState(BYTE state[256]) {
  for (int vk : {VK_SHIFT, VK_LSHIFT, VK_RSHIFT, VK_CONTROL, VK_LCONTROL, VK_RCONTROL, VK_MENU, VK_LMENU, VK_RMENU}) {
    if (::GetAsyncKeyState(vk) & 0x8000)
      state[vk] |= 0x80;
    else
      state[vk] &= static_cast<BYTE>(~0x80);
  }
  if (::GetKeyState(VK_CAPITAL) & 1)
    state[VK_CAPITAL] |= 1;
  else
    state[VK_CAPITAL] &= static_cast<BYTE>(~1);
}

}  // namespace

void CSecEdit::GainFocus() {
  if (!(::GetWindowLongPtrW(edit_, GWL_STYLE) & WS_VISIBLE)) {
    active_ = false;
    return;
  }
  active_ = true;
  current_ = this;
  InstallHook(1);
  for (UINT_PTR id = 1; id <= kHookSlots; ++id) ::SetTimer(edit_, id, kRefreshPeriodMs, &CSecEdit::RefreshHooks);
}

void CSecEdit::LoseFocus() {
  for (UINT_PTR id = 1; id <= kHookSlots; ++id) ::KillTimer(edit_, id);
  CSecEdit* self = this;
  current_.compare_exchange_strong(self, nullptr);
  for (int slot = 1; slot <= kHookSlots; ++slot) RemoveHook(slot);
}

void CSecEdit::InstallHook(int slot) {
  HHOOK& h = hooks_[slot - 1];
  if (h) return;
  HINSTANCE module = hookModule_ ? hookModule_ : ::GetModuleHandleW(nullptr);
  h = ::SetWindowsHookExW(WH_KEYBOARD_LL, &CSecEdit::KeyboardHook, module, 0);
}

// True when the slot is empty afterwards; an empty slot counts as removed.
bool CSecEdit::RemoveHook(int slot) {
  HHOOK& h = hooks_[slot - 1];
  if (!h) return true;
  if (!::UnhookWindowsHookEx(h)) return false;
  h = nullptr;
  return true;
}

void CALLBACK CSecEdit::RefreshHooks(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  CSecEdit* self = FromWindow(hwnd);
  if (!self || self != Current() || id < 1 || id > kHookSlots) return;
  const int slot = static_cast<int>(id);
  bool otherHeld = false;
  for (int other = 1; other <= kHookSlots; ++other) otherHeld |= other != slot && self->hooks_[other - 1];
  if (otherHeld && self->RemoveHook(slot)) self->InstallHook(slot);
}

LRESULT CALLBACK CSecEdit::KeyboardHook(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && (wp == WM_KEYDOWN || wp == WM_KEYUP)) {
    CSecEdit* self = Current();
    if (self && self->edit_ && ::GetFocus() == self->edit_) {
      try {
        if (self->OnHookKey(static_cast<UINT>(wp), *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lp))) return 1;
      } catch (...) {
        // The key goes on as if the hook had not looked at it.
      }
    }
  }
  return ::CallNextHookEx(nullptr, code, wp, lp);
}

// True when the key is consumed.
bool CSecEdit::OnHookKey(UINT message, const KBDLLHOOKSTRUCT& key) {
  if (key.vkCode == 'L' && WindowsKeyDown()) return false;  // Win+L must lock the workstation
  BYTE state[256] = {};
  ::GetKeyboardState(state);
  ModifiersIntoState(state);
  WORD translated[2] = {};
  const int n = ::ToAscii(key.vkCode, key.scanCode, state, translated, 0);
  WipeMemory(state, sizeof state);
  if (n != 1) return false;
  const wchar_t ch = static_cast<wchar_t>(translated[0] & 0xFF);
  translated[0] = 0;
  if (ch < 32 || ch > 126) return false;
  if (IsLetterOrDigit(ch) && message == WM_KEYDOWN) {
    if (::SendMessageW(edit_, WM_CHAR, L'*', 0) != 0) Update(ch, EditKind::kInsert);
  }
  return true;
}

}  // namespace vd
