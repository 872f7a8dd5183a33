// The Important command: the bank's fixed advice on using the token, in one read-only block of text.
// The English interface gets a wider layout.
//   RunImportantDialog(hwnd);
#pragma once

#include <windows.h>

#include <string>

namespace vd {

// The template for an interface language: the wider English layout for 1033, the other for any other id.
int ImportantTemplateFor(int languageId);

// The heading, a line break and the advice, in the interface language.
std::wstring ImportantText();

// Modal, on the template of GetLanguageId(); closes with Enter, Esc or the close box.
void RunImportantDialog(HWND owner);

}  // namespace vd
