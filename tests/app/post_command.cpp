// A remote control of the running vardeck for the demo: the demo's shell cannot send window messages.
//   post_command command ID           posts WM_COMMAND ID to the main window
//   post_command select-certificate   selects the first certificate of the first token in the tree
//   post_command close TITLE          closes the top-level window with that title (as Escape would)
// Exit code 0 when the window was found, 1 otherwise.
#include <windows.h>
#include <commctrl.h>

#include <cwchar>

namespace {

constexpr wchar_t kMainTitle[] = L"Opalix Certificate Manager";
constexpr int kTreeId = 1014;

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  if (std::wcscmp(argv[1], L"close") == 0 && argc > 2) {
    HWND w = ::FindWindowW(nullptr, argv[2]);
    if (!w) return 1;
    ::PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
    ::PostMessageW(w, WM_CLOSE, 0, 0);
    return 0;
  }
  HWND main = ::FindWindowW(L"#32770", kMainTitle);
  if (!main) return 1;
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
