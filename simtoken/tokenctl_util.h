// Argument parsing and names shared by tokenctl's commands.
#pragma once

#include "pkcs11.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tokenctl {

// A command's own arguments after the command word: positional values and --options.
struct ParsedArgs {
  std::vector<std::wstring> positional;
  std::map<std::wstring, std::wstring> values;  // --name VALUE
  std::set<std::wstring> flags;                 // --name
};

// Fails (message in *error) on an unknown option, an option given twice or one missing its value.
bool ParseArgs(const std::vector<std::wstring>& args, size_t from, const std::set<std::wstring>& valueOptions,
               const std::set<std::wstring>& flagOptions, ParsedArgs* out, std::string* error);

// Decimal or 0x-hexadecimal, the whole text, within 32 bits.
std::optional<uint32_t> ParseNumber(const std::wstring& text);
std::optional<std::vector<uint8_t>> ParseHex(const std::wstring& text);
// A CKR_ name from the table or a number.
std::optional<CK_RV> ParseRv(const std::wstring& text);
bool IsFaultableFunction(const std::string& name);
std::string FaultableFunctions();  // space-separated, for messages

std::string Narrow(const std::wstring& s);  // ASCII arguments: names, numbers
std::string Hex(const std::vector<uint8_t>& bytes);

}  // namespace tokenctl
