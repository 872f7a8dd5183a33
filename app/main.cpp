#include <windows.h>

#include "cert_manager_app.h"
#include "module_binding.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  vd::LimitDllSearch();
  // A running vardeck holds no folder of its own: started from its folder (the Start menu does), it would
  // keep an uninstall from removing it. Nothing reads files relative to the current folder.
  wchar_t system[MAX_PATH] = {};
  if (::GetSystemDirectoryW(system, MAX_PATH)) ::SetCurrentDirectoryW(system);
  vd::CertManagerApp app;
  return app.Run(instance, ::GetCommandLineW());
}
