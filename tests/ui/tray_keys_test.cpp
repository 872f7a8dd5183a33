// The tray icon's menu from the keyboard (Enter or the menu key on the focused icon) as from the mouse, in
// both layouts the shell sends its callback in; the item is chosen by its mnemonic, typed with SendInput.
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <thread>

#include "key_input.h"
#include "main_ids.h"
#include "testsupport.h"
#include "tray_icon.h"

namespace {

UINT lastCommand = 0;

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND) lastCommand = LOWORD(wp);
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

bool MenuShown() {
  HWND menu = ::FindWindowW(L"#32768", nullptr);
  return menu && ::IsWindowVisible(menu);
}

TEST(TrayKeyboard, EnterAndTheMenuKeyOpenTheMenuAsARightClickDoes) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = OwnerProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TrayKeysOwner";
  ::RegisterClassW(&wc);
  HWND owner = ::CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE, 0, 0, 1, 1,
                                 nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_TRUE(owner);
  vd::TrayIcon tray;
  tray.Attach(owner, {});
  const WPARAM anchor = MAKEWPARAM(500, 400);
  struct Row {
    const char* what;
    WPARAM wp;
    LPARAM lp;
    bool menu, showsWindow;
  } rows[] = {
      {"Enter on the icon, version 4", anchor, MAKELPARAM(NIN_KEYSELECT, IDI_TOKEN), true, false},
      {"the menu key, version 4", anchor, MAKELPARAM(WM_CONTEXTMENU, IDI_TOKEN), true, false},
      {"the menu key, version 3", IDI_TOKEN, WM_CONTEXTMENU, true, false},
      {"a right click, no version", IDI_TOKEN, WM_RBUTTONDOWN, true, false},
      {"a right click, version 4 (its WM_CONTEXTMENU follows)", anchor, MAKELPARAM(WM_RBUTTONDOWN, IDI_TOKEN),
       false, false},
      {"a double click, version 4", anchor, MAKELPARAM(WM_LBUTTONDBLCLK, IDI_TOKEN), false, true},
      {"a double click on another icon", 999, WM_LBUTTONDBLCLK, false, false},
  };
  for (const Row& row : rows) {
    ::SetForegroundWindow(owner);
    lastCommand = 0;
    std::atomic<bool> opened{false}, done{false};
    std::thread keys([&] {
      // The menu runs its own loop on the test's thread: type its item's mnemonic while it is up. A key
      // that arrives before that loop runs is lost, so type again until the menu goes.
      for (int i = 0; i < 150 && !done; ++i) {
        if (MenuShown()) {
          opened = true;
          sectest::SendKeys(sectest::Tap('S'));
          ::Sleep(300);
        }
        ::Sleep(20);
      }
    });
    const bool showsWindow = tray.OnCallback(row.wp, row.lp);
    done = true;
    keys.join();
    EXPECT_EQ(showsWindow, row.showsWindow) << row.what;
    EXPECT_EQ(opened, row.menu) << row.what;
    const bool chosen = vdtest::PumpUntil([] { return lastCommand != 0; }, row.menu ? 3000 : 100);
    EXPECT_EQ(chosen, row.menu) << row.what;
    if (chosen) {
      EXPECT_EQ(lastCommand, static_cast<UINT>(IDM_SHOW_MANAGER)) << row.what;
    }
  }
  ::DestroyWindow(owner);
}

}  // namespace
