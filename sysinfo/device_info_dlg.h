// The System Device Info command: one read-only block of text with the system, the browser, the
// product's version and the selected token's facts.
//   RunDeviceInfoDialog(hwnd, ReadTokenFacts(fl, aux, slot, tokenCount));
#pragma once

#include <windows.h>

#include <string>

#include "token_operations.h"

namespace vd {

// What the dialog shows of the machine, read when it opens.
struct SystemFacts {
  std::wstring productText;     // OsVersionInfo's, e.g. "Microsoft Windows 7 Ultimate Edition"
  std::wstring versionText;     // OsVersionInfo's, e.g. "Version 6.1 Service Pack 1 (Build 7601)"
  std::wstring browserVersion;  // "IE 8.0..." or "unknow"
  std::wstring productVersion;  // the installation's "Version", at most 19 characters; empty when absent
};

// A fresh OsVersionInfo, the browser's version and the product's version as the dialog reads them.
SystemFacts ReadSystemFacts();

// The dialog's text in its fixed order: system, browser, (token model and serial), product version, token
// state, (PIN state); the token lines only while a token is present.
std::wstring DeviceInfoText(const TokenFacts& token, const SystemFacts& system);

// Modal; closes with Enter, Esc or the close box.
void RunDeviceInfoDialog(HWND owner, const TokenFacts& facts);

}  // namespace vd
