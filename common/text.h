// Conversions between the text encodings the programs meet: UTF-16 inside vardeck, UTF-8 token labels and
// PINs, ANSI slot descriptions and container names.
#pragma once

#include <string>
#include <string_view>

namespace vd {

// Bytes that are not UTF-8 become U+FFFD, one for each broken sequence, on every Windows.
std::wstring Utf8ToWide(std::string_view s);
std::string WideToUtf8(std::wstring_view s);
std::wstring AnsiToWide(std::string_view s);
std::string WideToAnsi(std::wstring_view s);

// A fixed-width, blank-padded field (PKCS#11 labels and descriptions) up to its first NUL, trailing blanks
// removed. Never reads past `size`.
std::string_view FixedField(const void* field, size_t size);

bool EqualsNoCase(std::wstring_view a, std::wstring_view b);

}  // namespace vd
