#include "text_dialog.h"

#include "dpi.h"
#include "language_manager.h"
#include "window_attach.h"

namespace vd {
namespace {

class TextDialog : public AttachedWindow {
 public:
  TextDialog(int templateId, int editId, const std::wstring& text)
      : templateId_(templateId), editId_(editId), text_(text) {}

 private:
  friend struct ::vd::WindowAttach;
  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case kDpiChangedMessage:
        return dpi_.OnDpiChanged(hwnd_, lp);
      case WM_INITDIALOG:
        TranslateDialog(hwnd_, templateId_);
        ::SetDlgItemTextW(hwnd_, editId_, text_.c_str());
        return TRUE;  // the system sets the focus
      case WM_COMMAND:
        // OK and Cancel are hidden but are still the default and the cancel button.
        if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) {
          ::EndDialog(hwnd_, LOWORD(wp));
          return TRUE;
        }
        break;
      default:
        break;
    }
    return FALSE;
  }

  int templateId_;
  int editId_;
  const std::wstring& text_;
  DialogDpiScaler dpi_;
};

}  // namespace

void RunTextDialog(HWND owner, int templateId, int editId, const std::wstring& text) {
  TextDialog dlg(templateId, editId, text);
  ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId), owner, DialogProcOf<TextDialog>,
                    reinterpret_cast<LPARAM>(&dlg));
}

}  // namespace vd
