// The Option command: whether the bank's home page opens when a token is inserted, and its address, which
// the token manager reads at each insertion: "PopFlag" as a REG_SZ of exactly one byte, "1" or "0", the
// user's own over the machine's (home_page_flag.h), and "http Address" under the installation key as UTF-16
// with its terminator.
//   RunOptionCommand(hwnd, messageCaption_);
#pragma once

#include <windows.h>

#include <string>

#include "home_page_flag.h"

namespace vd {

// Runs the Option dialog modally. On OK the address is written when showing the page was chosen ("Set URL
// Failed!" when that fails), then "PopFlag": "1" when showing was chosen, "0" for hiding or no choice
// ("Failed to save option!" under `messageCaption` when that fails). Cancel writes nothing.
void RunOptionCommand(HWND owner, const std::wstring& messageCaption, const InstallKeyLocation& where = {});

}  // namespace vd
