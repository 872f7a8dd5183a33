// Keys as a user types them: through SendInput (injected) or through xdotool on the X display (real
// input as far as the program can tell).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace sectest {

struct KeyEvent {
  WORD vk;
  bool down;
};

// Press and release of `vk` with the modifiers held around it.
std::vector<KeyEvent> Chord(std::initializer_list<WORD> modifiers, WORD vk);
std::vector<KeyEvent> Tap(WORD vk);
std::vector<KeyEvent> operator+(std::vector<KeyEvent> a, const std::vector<KeyEvent>& b);

// Sends the events one by one; true when every one was injected. Call from a thread other than the one
// that owns the hooks.
bool SendKeys(const std::vector<KeyEvent>& keys);

// Runs xdotool with the arguments on the display Wine uses; true when it started (Wine cannot report a
// Unix program's exit code).
bool Xdotool(const std::string& args);
// The X window id Wine created for a window, from its "__wine_x11_whole_window" property.
unsigned long X11WindowOf(HWND hwnd);

}  // namespace sectest
