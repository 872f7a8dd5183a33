#include "plain_pin_run.h"

#include "background_window.h"
#include "change_pin_controller.h"
#include "change_pin_dialog.h"
#include "desktop_snapshot.h"

namespace vd {

INT_PTR RunPlainPinDialog(bool forced, CK_ULONG minimumLength, CK_ULONG maximumLength, std::wstring& oldPin,
                          std::wstring& newPin, const PinDialogWatch* watch, HINSTANCE module) {
  if (!module) module = ::GetModuleHandleW(nullptr);
  DesktopSnapshot snapshot;
  snapshot.Capture();  // without a picture the dialog still runs, only without the background
  BackgroundWindow background(snapshot.Bitmap(), false);
  HWND backgroundWindow = snapshot.Bitmap() ? background.CreateModeless(module, nullptr) : nullptr;

  ChangePinController controller(module, minimumLength, maximumLength);
  ChangePinDialogOptions options;
  options.forced = forced;
  ChangePinDialog dialog(controller, options, oldPin, newPin);
  bool reported = false;
  dialog.onOpened = [&](HWND hwnd) {
    reported = true;
    if (watch && watch->opened) watch->opened(hwnd);
  };
  const INT_PTR result = dialog.Run(module, backgroundWindow);
  if (backgroundWindow && ::IsWindow(backgroundWindow)) {
    ::ShowWindow(backgroundWindow, SW_HIDE);
    ::DestroyWindow(backgroundWindow);
  }
  if (reported && watch && watch->closed) watch->closed();
  return result;
}

}  // namespace vd
