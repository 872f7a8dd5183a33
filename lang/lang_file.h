// The language file format: decoding the bytes, splitting them into sections of key=value lines and
// unescaping the values. Pure functions, so that every rule can be checked without touching a disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vd {

// A value equal to this counts as absent, and a lookup that finds nothing yields it.
inline constexpr std::wstring_view kAbsentMarker = L"DEFAULT_F94174A7C1D94A0E9D57739193CF18CC";

// Anything larger cannot be a language file; it is refused before being read.
inline constexpr uint64_t kMaxLanguageFileBytes = 16ull * 1024 * 1024;

struct LangSection {
  std::wstring name;
  std::map<std::wstring, std::wstring> values;  // keys compared exactly, case-sensitively
};

// Sections by exact name; sections of the same name in one file are merged.
using LanguageContent = std::map<std::wstring, LangSection>;

// What a usable file declares about itself, besides its strings.
struct LanguageSettings {
  int codePage = 1033;
  std::wstring language;
  std::wstring fontFace = L"Tahoma";
  int fontHeight = 8;
};

// The file's text by its first bytes: FF FE is UTF-16 LE, EF BB BF UTF-8, FE FF (UTF-16 BE) is refused,
// anything else is the ANSI code page. The text ends at the first NUL. Nothing for a refused or empty text.
std::optional<std::wstring> DecodeLanguageText(const uint8_t* data, size_t size);

// Turns "\r", "\n", "\t" into control characters and collapses runs of backslashes to one, while "\\r",
// "\\n" and "\\t" stay a backslash followed by the letter.
std::wstring UnescapeValue(std::wstring value);

// Replaces `content` with the sections of `text`. False for a key before any section header, an empty
// section name or a key repeated within a section (the file is then unusable as a whole).
bool ParseLanguageText(std::wstring_view text, LanguageContent& content);

// The value stored under `key`, or kAbsentMarker when the key is missing or holds the marker itself.
std::wstring_view LookupValue(const LangSection& section, std::wstring_view key);

// Reads "settings": "CodePage" and "Language" must be present; "FontFace" and "FontHeight" are optional.
std::optional<LanguageSettings> ReadSettings(const LanguageContent& content);

// Decimal as the C runtime reads it: leading white space, optional sign, digits up to the first other
// character, 0 without digits; clamped to the int range.
int ParseDecimal(std::wstring_view text);

// "<directory>[/]<base>_<id as four digits>.lng"; a '/' joins a directory that does not end in a backslash.
// Nothing when directory and base name exceed 254 characters or the name would not fit 260.
std::optional<std::wstring> ComposeLanguageFileName(const std::wstring& directory, const std::wstring& baseName,
                                                     int languageId);

}  // namespace vd
