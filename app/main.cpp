#include <windows.h>

#include "cert_manager_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  vd::CertManagerApp app;
  return app.Run(instance, ::GetCommandLineW());
}
