// The image this code is linked into (npLumora.dll or lumora_host.exe), which is not the process's
// executable when a browser loads the plug-in: its folder holds the installed files, its resources the
// erase question.
#pragma once

#include <windows.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace tq {

inline HINSTANCE OwnModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

}  // namespace tq
