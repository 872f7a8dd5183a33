// The change-PIN dialog (template 134) for both ways of running it: modal on the isolated desktop's PIN
// thread, or modal on the caller's thread over the dimmed background. It ends with 1 (OK, the PINs handed
// to its sink), 2 (cancelled, also by the keyboard guard's WM_CLOSE), or kTokenRemovedResult when the
// window posted kTokenRemovedMessage because the token was pulled.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "change_pin_controller.h"
#include "dpi.h"
#include "window_attach.h"

namespace vd {

struct ChangePinDialogOptions {
  bool isolated = false;  // runs on the isolated desktop: the template's advice and the edits' limits
  bool forced = false;    // Cancel disabled
};

class ChangePinDialog : public AttachedWindow {
 public:
  // On OK the accepted PINs are copied into `oldPin` and `newPin` (sized beforehand by the caller).
  ChangePinDialog(ChangePinController& controller, ChangePinDialogOptions options, std::wstring& oldPin,
                  std::wstring& newPin)
      : controller_(controller), options_(options), oldPinSink_(oldPin), newPinSink_(newPin) {}

  // Called from WM_INITDIALOG once the dialog is ready, on the dialog's thread.
  std::function<void(HWND)> onOpened;

  // Runs the dialog modally on the calling thread; DialogBoxParam's result.
  INT_PTR Run(HINSTANCE module, HWND owner);

  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp);

 private:
  bool OnInitDialog();
  void OnCommand(WORD id, WORD code);
  void OnOk();
  bool OkAllowed() const;
  void UpdateOkButton();
  void End(INT_PTR result);

  ChangePinController& controller_;
  ChangePinDialogOptions options_;
  std::wstring& oldPinSink_;
  std::wstring& newPinSink_;
  DialogDpiScaler dpi_;
};

}  // namespace vd
