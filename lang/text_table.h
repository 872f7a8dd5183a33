// Texts shown to the user: each subsystem keeps one table of named {id, English default} entries and looks
// them up by name where it shows them, through Text() and, for formats, FormatText(). A language file may
// replace any entry's text by its id.
//
// A subsystem declares its table once, as an X-list, so that the entries and the list the shipped-files
// test walks cannot drift apart:
//     #define VD_UI_TEXTS(X)                            (a backslash ends each line)
//       X(kNoCertificate, 61211, L"No Certificate")
//       X(kParameterError, 61212, L"Parameter Error!")
//     VD_TEXT_TABLE(ui_text, VD_UI_TEXTS)
// gives vd::ui_text::kNoCertificate ... and vd::ui_text::kAll (every entry, in order).
#pragma once

#include <initializer_list>
#include <string>
#include <variant>
#include <vector>

namespace vd {

struct TextEntry {
  int id;
  const wchar_t* english;
};

#define VD_TEXT_ENTRY_(name, id, english) inline constexpr ::vd::TextEntry name{id, english};
#define VD_TEXT_ROW_(name, id, english) name,
#define VD_TEXT_TABLE(ns, list)                                 \
  namespace ns {                                                \
  list(VD_TEXT_ENTRY_) inline constexpr ::vd::TextEntry kAll[] = {list(VD_TEXT_ROW_)}; \
  }

// The entry's text in the interface language, or its English default.
std::wstring Text(const TextEntry& entry);

// One argument of a translated format: %d and %i take an int, %u %x %X an unsigned, %s a wide string.
using FormatArg = std::variant<int, unsigned, const wchar_t*>;

// The entry's text used as a printf format. A language file is outside our control, so its text is used
// only when its conversions are, in order, exactly those of the English default (same letters, same
// length modifiers); otherwise the English default is formatted. The English default itself must match
// the arguments: a mismatch there gives the format unformatted rather than reading an argument never
// passed.
std::wstring FormatText(const TextEntry& entry, std::initializer_list<FormatArg> args);

// The conversions of a printf format in order, each as its length modifier plus letter ("d", "ld", "s");
// "%%" is none. A conversion this formatter does not take (%n, %p, a '*' width, a dangling '%') appears
// as "?", so that it never equals a default's.
std::vector<std::wstring> FormatConversions(const std::wstring& format);

}  // namespace vd
