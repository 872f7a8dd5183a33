#include "keyboard_guard.h"

#include <atomic>

namespace vd {
namespace {

std::atomic<HHOOK> g_guard{nullptr};

bool Down(int vk) { return (::GetAsyncKeyState(vk) & 0x8000) != 0; }

LRESULT CALLBACK GuardProc(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION) {
    const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lp);
    if (KeyboardGuardFires(key->vkCode, Down(VK_LWIN) || Down(VK_RWIN), Down(VK_CONTROL), Down(VK_MENU))) {
      ::OutputDebugStringW(L"Ctrl+Alt+Del pressed!\n");
      // The active window may be a message box over the dialog; its parent is then the dialog.
      if (HWND active = ::GetActiveWindow()) {
        ::PostMessageW(active, WM_CLOSE, 0, 0);
        if (HWND parent = ::GetParent(active)) ::PostMessageW(parent, WM_CLOSE, 0, 0);
      }
    }
  }
  return ::CallNextHookEx(nullptr, code, wp, lp);
}

}  // namespace

bool KeyboardGuardFires(DWORD vk, bool windowsKeyDown, bool ctrlDown, bool altDown) {
  return (vk == 'L' && windowsKeyDown) || (vk == VK_DELETE && ctrlDown && altDown);
}

bool InstallKeyboardGuard(HINSTANCE module) {
  if (g_guard.load()) return true;
  HHOOK h = ::SetWindowsHookExW(WH_KEYBOARD_LL, GuardProc, module ? module : ::GetModuleHandleW(nullptr), 0);
  if (!h) return false;
  HHOOK expected = nullptr;
  if (!g_guard.compare_exchange_strong(expected, h)) ::UnhookWindowsHookEx(h);
  return true;
}

void RemoveKeyboardGuard() {
  if (HHOOK h = g_guard.exchange(nullptr)) ::UnhookWindowsHookEx(h);
}

bool KeyboardGuardInstalled() { return g_guard.load() != nullptr; }

}  // namespace vd
