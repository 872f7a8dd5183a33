#include "important_dlg.h"

#include "commands_ids.h"
#include "info_texts.h"
#include "language_manager.h"
#include "window_attach.h"

namespace vd {
namespace {

constexpr int kEnglish = 1033;

class ImportantDlg : public AttachedWindow {
 public:
  explicit ImportantDlg(int templateId) : templateId_(templateId) {}

 private:
  friend struct ::vd::WindowAttach;
  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
      case WM_INITDIALOG:
        TranslateDialog(hwnd_, templateId_);
        ::SetDlgItemTextW(hwnd_, IDC_IMPORTANT_TEXT, ImportantText().c_str());
        return TRUE;
      case WM_COMMAND:
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
};

}  // namespace

int ImportantTemplateFor(int languageId) { return languageId == kEnglish ? IDD_IMPORTANT_ENGLISH : IDD_IMPORTANT; }

std::wstring ImportantText() {
  return Text(info_text::kImportantHeading) + L"\r\n" + Text(info_text::kImportantAdvice);
}

void RunImportantDialog(HWND owner) {
  const int templateId = ImportantTemplateFor(LanguageManager::Instance().InterfaceLanguageId());
  ImportantDlg dlg(templateId);
  ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId), owner, DialogProcOf<ImportantDlg>,
                    reinterpret_cast<LPARAM>(&dlg));
}

}  // namespace vd
