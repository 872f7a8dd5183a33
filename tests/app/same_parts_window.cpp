// The floor of vardeck's memory: a window program that loads the same system parts as vardeck with a
// token present (common controls 6 through its manifest, crypt32 with MY open, shell32 with a tray icon,
// the token module bound and initialised) and nothing of vardeck's own. Ends on WM_CLOSE or after ten
// minutes.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <wincrypt.h>

#include "pkcs11.h"

namespace {

constexpr UINT kTrayMessage = WM_APP + 1;

LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_DESTROY) ::PostQuitMessage(0);
  return ::DefWindowProcW(h, m, w, l);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&icc);
  HCERTSTORE my = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
  HMODULE module = ::LoadLibraryW(L"LumoraCSP11Brindlemark.dll");
  if (module) {
    auto get = reinterpret_cast<CK_C_GetFunctionList>(
        reinterpret_cast<void*>(::GetProcAddress(module, "C_GetFunctionList")));
    CK_FUNCTION_LIST* fl = nullptr;
    if (get && get(&fl) == CKR_OK && fl) fl->C_Initialize(nullptr);
  }
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.lpszClassName = L"vdSamePartsWindow";
  ::RegisterClassW(&wc);
  HWND h = ::CreateWindowW(wc.lpszClassName, L"same parts", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           instance, nullptr);
  NOTIFYICONDATAW nid{};
  nid.cbSize = NOTIFYICONDATAW_V2_SIZE;
  nid.hWnd = h;
  nid.uID = 1;
  nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  nid.uCallbackMessage = kTrayMessage;
  nid.hIcon = ::LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
  ::Shell_NotifyIconW(NIM_ADD, &nid);
  ::SetTimer(h, 1, 600000, nullptr);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER) break;
    ::DispatchMessageW(&msg);
  }
  ::Shell_NotifyIconW(NIM_DELETE, &nid);
  if (my) ::CertCloseStore(my, 0);
  return 0;
}
