// "PopFlag": whether the bank's home page opens when a token is inserted. The installer and administrators
// set the machine's default under the installation key; the Option dialog keeps the user's own choice in
// the user's key, which wins. The token manager reads it at each insertion. A REG_SZ whose data is one
// byte, the digit '1' or '0', without a terminator.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "product.h"

namespace vd {

// The user's settings of the program (the notifier's are under its "Config").
inline constexpr wchar_t kUserSettingsKey[] = L"Software\\Kestrova\\Brindlemark_Lumora";

// Where the values are kept; tests point both at keys of their own.
struct InstallKeyLocation {
  HKEY root = HKEY_LOCAL_MACHINE;
  std::wstring subkey = kProduct.installKey;
  HKEY userRoot = HKEY_CURRENT_USER;
  std::wstring userSubkey = kUserSettingsKey;
};

// The user's value when there is one, else the machine's; nothing when neither exists. Only the first byte
// counts, so "1" written as UTF-16 by another program reads as on, and anything but '1' (an empty value
// too) as off.
std::optional<bool> ReadPopFlag(const InstallKeyLocation& where = {});
// Writes '1' or '0' as the user's choice, making the user's key when needed (a standard user may not
// write the machine's); false when the write fails.
bool WritePopFlag(bool on, const InstallKeyLocation& where = {});

}  // namespace vd
