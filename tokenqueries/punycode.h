// Internationalised host names between the Unicode a person reads and the ASCII ("xn--" labels) that
// browsers put into an origin. Our own, because the system's IdnToAscii is missing on Windows XP. No
// NFKC mapping: a host name an installer writes in an unusual Unicode form may not match the browser's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tq {

// The Punycode of one label's code points (no "xn--" prefix); nothing when the label is too long to encode.
std::optional<std::string> PunycodeEncode(std::u32string_view label);
// The code points of one label's Punycode (no "xn--" prefix); nothing for text that is no Punycode.
std::optional<std::u32string> PunycodeDecode(std::string_view ascii);

// A host name in UTF-8 as browsers send it: lower case, every non-ASCII label turned into "xn--" form,
// ideographic full stops read as dots. Nothing when a label cannot be encoded or the text is no UTF-8.
std::optional<std::string> HostToAscii(std::string_view utf8);
// The host name a person reads: every "xn--" label decoded, UTF-8. The text unchanged when it holds no
// such label or one does not decode.
std::string HostToUnicode(std::string_view ascii);

}  // namespace tq
