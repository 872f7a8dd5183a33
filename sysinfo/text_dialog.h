// A read-only dialog whose whole content is one text in one edit control (the device information and
// the "Important" advice): translated from its template, closed by Enter, Escape or the close box.
#pragma once

#include <windows.h>

#include <string>

namespace vd {

void RunTextDialog(HWND owner, int templateId, int editId, const std::wstring& text);

}  // namespace vd
