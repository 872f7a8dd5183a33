#include "key_input.h"

#include <cstdio>

#include "testsupport.h"
#include "text.h"

namespace sectest {

std::vector<KeyEvent> Tap(WORD vk) { return {{vk, true}, {vk, false}}; }

std::vector<KeyEvent> Chord(std::initializer_list<WORD> modifiers, WORD vk) {
  std::vector<KeyEvent> keys;
  for (WORD m : modifiers) keys.push_back({m, true});
  keys.push_back({vk, true});
  keys.push_back({vk, false});
  for (auto it = std::rbegin(modifiers); it != std::rend(modifiers); ++it) keys.push_back({*it, false});
  return keys;
}

std::vector<KeyEvent> operator+(std::vector<KeyEvent> a, const std::vector<KeyEvent>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool SendKeys(const std::vector<KeyEvent>& keys) {
  bool all = true;
  for (const KeyEvent& k : keys) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = k.vk;
    in.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(k.vk, 0 /* MAPVK_VK_TO_VSC */));
    in.ki.dwFlags = k.down ? 0 : KEYEVENTF_KEYUP;
    if (k.vk == VK_DELETE || k.vk == VK_HOME || k.vk == VK_END || k.vk == VK_LWIN || k.vk == VK_RWIN)
      in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
    all &= ::SendInput(1, &in, sizeof in) == 1;
    ::Sleep(15);
  }
  return all;
}

bool Xdotool(const std::string& args) {
  // Wine starts a Unix program named by its Unix path as it would a Windows one.
  vdtest::ProcessResult r = vdtest::RunProcess(L"/usr/bin/xdotool " + vd::Utf8ToWide(args), 20000);
  // Wine does not learn a Unix child's exit code; that it started is all it can tell. Callers check what
  // the keys did.
  if (r.startError != 0) std::fprintf(stderr, "xdotool could not start: error %lu\n", r.startError);
  return r.startError == 0;
}

unsigned long X11WindowOf(HWND hwnd) {
  return static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(::GetPropW(hwnd, L"__wine_x11_whole_window")));
}

}  // namespace sectest
