// A remote control of the running vardeck for the demo: the demo's shell cannot send window messages.
//   post_command command ID           posts WM_COMMAND ID to the main window
//   post_command select-certificate   selects the first certificate of the first token in the tree
//   post_command close-dialogs        closes every other dialog the main window's process shows (as Escape
//                                     would)
// The main window is found by its certificate tree, not by its title, which the language file replaces.
// Exit code 0 when the window was found, 1 otherwise.
#include <windows.h>
#include <commctrl.h>

#include <cwchar>

namespace {

constexpr int kTreeId = 1014;

bool IsDialog(HWND w) {
  wchar_t cls[16] = {};
  ::GetClassNameW(w, cls, 16);
  return std::wcscmp(cls, L"#32770") == 0;
}

HWND MainWindow() {
  HWND found = nullptr;
  ::EnumWindows(
      [](HWND w, LPARAM lp) -> BOOL {
        HWND tree = ::GetDlgItem(w, kTreeId);
        wchar_t cls[32] = {};
        if (IsDialog(w) && tree && ::GetClassNameW(tree, cls, 32) && std::wcscmp(cls, WC_TREEVIEWW) == 0) {
          *reinterpret_cast<HWND*>(lp) = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

struct CloseScope {
  HWND main;
  DWORD process;
  int closed;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  HWND main = MainWindow();
  if (!main) return 1;
  if (std::wcscmp(argv[1], L"close-dialogs") == 0) {
    CloseScope scope{main, 0, 0};
    ::GetWindowThreadProcessId(main, &scope.process);
    ::EnumWindows(
        [](HWND w, LPARAM lp) -> BOOL {
          auto* s = reinterpret_cast<CloseScope*>(lp);
          DWORD process = 0;
          ::GetWindowThreadProcessId(w, &process);
          if (w != s->main && process == s->process && IsDialog(w) && ::IsWindowVisible(w)) {
            ::PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
            ::PostMessageW(w, WM_CLOSE, 0, 0);
            ++s->closed;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&scope));
    return scope.closed > 0 ? 0 : 1;
  }
  if (std::wcscmp(argv[1], L"command") == 0 && argc > 2) {
    ::PostMessageW(main, WM_COMMAND, static_cast<WPARAM>(_wtoi(argv[2])), 0);
    return 0;
  }
  if (std::wcscmp(argv[1], L"select-certificate") == 0) {
    // Item handles are plain values: these tree messages work from another process.
    HWND tree = ::GetDlgItem(main, kTreeId);
    auto root = ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    auto child = root ? ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, root) : 0;
    if (!child) return 1;
    ::SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, child);
    return 0;
  }
  return 2;
}
