// Small registry helpers: reads that never overrun and report absence as an empty result.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace vd {

// The raw data of a value, or nothing when the key or value is absent.
std::optional<std::vector<BYTE>> RegReadBytes(HKEY root, const wchar_t* subkey, const wchar_t* name,
                                              DWORD* type = nullptr);
// A REG_SZ/REG_EXPAND_SZ value as text (stops at the first NUL; an odd trailing byte is dropped).
std::optional<std::wstring> RegReadString(HKEY root, const wchar_t* subkey, const wchar_t* name);
std::optional<DWORD> RegReadDword(HKEY root, const wchar_t* subkey, const wchar_t* name);

bool RegWriteBytes(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type, const void* data,
                   DWORD size);
bool RegWriteString(HKEY root, const wchar_t* subkey, const wchar_t* name, const std::wstring& value);
bool RegWriteDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value);

}  // namespace vd
