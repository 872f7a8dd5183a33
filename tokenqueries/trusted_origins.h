// Which pages may re-initialise tokens (the plug-in) or reach the token queries at all (the native
// messaging host): the list of origins the bank's installer writes under the installation key, value
// "TrustedOrigins", REG_SZ or REG_MULTI_SZ, one origin per line. Origins match exactly after
// normalisation; there are no wildcards, and an entry with a path is no origin and matches nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tq {

// The value's name under HKLM\<installation key>.
inline constexpr wchar_t kTrustedOriginsValue[] = L"TrustedOrigins";

// "scheme://host[:port]" in lower case, without a trailing "/" and without the scheme's default port;
// empty when the text is not of that form (a path, "null", a bare host, user information).
std::string NormaliseOrigin(std::string_view origin);

class TrustedOrigins {
 public:
  // No list at all: what an installation without the value has.
  TrustedOrigins() = default;
  // A list from the value's text; lines may end in CR LF, LF or NUL. Blank lines and entries that are no
  // origin are dropped.
  static TrustedOrigins FromText(std::wstring_view text);
  // The installed list. A value of another type than a text counts as a list that names nobody: what the
  // installer meant cannot be known, so nothing is trusted.
  static TrustedOrigins FromRegistry();

  // True when the installation has the value, whatever it names.
  bool present() const { return present_; }
  // True when the list names the origin. Without a list nothing is named.
  bool Names(std::string_view origin) const;
  const std::vector<std::string>& origins() const { return origins_; }

 private:
  bool present_ = false;
  std::vector<std::string> origins_;  // normalised
};

}  // namespace tq
