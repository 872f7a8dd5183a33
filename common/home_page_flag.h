// "PopFlag" under the installation key: whether the bank's home page opens when a token is inserted. The
// token manager reads it at each insertion, the Option dialog shows and stores it, the installer writes
// it: a REG_SZ whose data is one byte, the digit '1' or '0', without a terminator.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "product.h"

namespace vd {

// Where the installation keeps its values; tests point it at a key of their own.
struct InstallKeyLocation {
  HKEY root = HKEY_LOCAL_MACHINE;
  std::wstring subkey = kProduct.installKey;
};

// Nothing when the key or the value is absent. Only the first byte counts, so "1" written as UTF-16 by
// another program reads as on, and anything but '1' (an empty value too) as off.
std::optional<bool> ReadPopFlag(const InstallKeyLocation& where = {});
// Writes '1' or '0' into the existing key; false when it cannot be opened for setting values or the
// write fails. The key is the installer's: it is never created here.
bool WritePopFlag(bool on, const InstallKeyLocation& where = {});

}  // namespace vd
