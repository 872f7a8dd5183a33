#include "important_dlg.h"

#include "commands_ids.h"
#include "info_texts.h"
#include "language_manager.h"
#include "text_dialog.h"

namespace vd {
namespace {

constexpr int kEnglish = 1033;

}  // namespace

int ImportantTemplateFor(int languageId) { return languageId == kEnglish ? IDD_IMPORTANT_ENGLISH : IDD_IMPORTANT; }

std::wstring ImportantText() {
  return Text(info_text::kImportantHeading) + L"\r\n" + Text(info_text::kImportantAdvice);
}

void RunImportantDialog(HWND owner) {
  const int templateId = ImportantTemplateFor(LanguageManager::Instance().InterfaceLanguageId());
  RunTextDialog(owner, templateId, IDC_IMPORTANT_TEXT, ImportantText());
}

}  // namespace vd
