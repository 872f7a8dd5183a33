// The smallest Win32 window program: a hidden top-level window and a message loop. The benchmark compares
// vardeck's memory with this one's under the same Wine. Ends on WM_CLOSE or after 10 minutes.
#include <windows.h>

namespace {

LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_DESTROY) ::PostQuitMessage(0);
  return ::DefWindowProcW(h, m, w, l);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.lpszClassName = L"vdMinimalWindow";
  ::RegisterClassW(&wc);
  HWND h = ::CreateWindowW(wc.lpszClassName, L"minimal", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           instance, nullptr);
  ::SetTimer(h, 1, 600000, nullptr);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER) break;
    ::DispatchMessageW(&msg);
  }
  return 0;
}
