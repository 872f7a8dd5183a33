// The About box: product name, version and two lines about the program, with the token icon. The main
// dialog opens it modally from the tray menu's About command and from its system-menu command 100:
//   RunAboutDlg(hwnd);
#pragma once

#include <windows.h>

namespace vd {

// Returns when the user closes the box (OK, Escape or the close box).
void RunAboutDlg(HWND owner, HINSTANCE module = nullptr);

}  // namespace vd
