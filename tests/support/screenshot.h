// PNG screenshots of what the tests show, so that a person can look at the windows under test. They go to
// the build tree's screenshots/ folder (beside bin/).
#pragma once

#include <windows.h>

#include <string>

namespace vdtest {

// build/<tree>/screenshots/ with a trailing backslash; created when missing.
std::wstring ScreenshotDir();
// Copies what the screen shows inside the window's rectangle (popups and children included) into a PNG
// named `fileName` under ScreenshotDir(). False when nothing could be captured or written.
bool SaveWindowPng(HWND hwnd, const std::wstring& fileName);
// The whole screen.
bool SaveScreenPng(const std::wstring& fileName);
// Writes a bitmap as PNG to a full path.
bool SaveBitmapPng(HBITMAP bitmap, const std::wstring& path);

}  // namespace vdtest
