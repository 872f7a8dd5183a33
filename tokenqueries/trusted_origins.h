// Which pages may reach the token queries at all, on both roads (the plug-in and the native messaging
// host): the list of origins the bank's installer writes, value "TrustedOrigins", REG_SZ or REG_MULTI_SZ,
// origins separated by line ends, NULs or ";". A policy value of the same name takes precedence over the
// installation key's, so that a machine's administrator has the last word. Origins match exactly after
// normalisation; there are no wildcards. An entry that is no origin is dropped with a reason, and costs
// only itself: the rest of the list still applies.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace tq {

// The value's name under HKLM\<installation key> and under HKLM\<policy key>.
inline constexpr wchar_t kTrustedOriginsValue[] = L"TrustedOrigins";
inline constexpr wchar_t kTrustedOriginsPolicyKey[] = L"SOFTWARE\\Policies\\Kestrova\\Brindlemark_Lumora";

// "http[s]://host[:port]" in lower case, the host in ASCII ("xn--" labels for a Unicode name), without a
// trailing "/" and without the scheme's default port. Empty when the text is no such origin; `why` (if
// given) then says in a few words what is wrong with it.
std::string NormaliseOrigin(std::string_view origin, std::string* why = nullptr);

// How an origin is shown to a person: the origin as it is, and for a Unicode host name its Unicode form
// first, e.g. "https://bücher.example (https://xn--bcher-kva.example)". UTF-8.
std::string DisplayOrigin(std::string_view normalisedOrigin);

struct RejectedOrigin {
  std::string entry;   // as written, UTF-8
  std::string reason;  // e.g. "the port is outside 1-65535"
};

struct OriginListCheck {
  std::vector<std::string> origins;  // normalised, each once, in list order
  std::vector<RejectedOrigin> rejected;
};

// Reads a list's text: what the host, the plug-in and the installer's check all go by.
OriginListCheck CheckOriginList(std::wstring_view text);

class TrustedOrigins {
 public:
  // No list at all: what an installation without the value has.
  TrustedOrigins() = default;
  static TrustedOrigins FromText(std::wstring_view text);
  // The installed list: the policy value when there is one, otherwise the installation key's. A value of
  // another type than a text counts as a list that names nobody: what the installer meant cannot be
  // known, so nothing is trusted.
  static TrustedOrigins FromRegistry();
  // The same from a value anywhere under HKLM or HKCU (the installer's check of what it wrote).
  static TrustedOrigins FromValue(HKEY root, const wchar_t* subkey, const wchar_t* name);

  // True when the installation has the value, whatever it names.
  bool present() const { return present_; }
  // True when the list names the origin. Without a list nothing is named.
  bool Names(std::string_view origin) const;
  const std::vector<std::string>& origins() const { return origins_; }
  // The entries the list dropped, for whoever reports them.
  const std::vector<RejectedOrigin>& rejected() const { return rejected_; }
  // True when the value was there but of a type that holds no text.
  bool unreadable() const { return unreadable_; }

 private:
  bool present_ = false;
  bool unreadable_ = false;
  std::vector<std::string> origins_;  // normalised
  std::vector<RejectedOrigin> rejected_;
};

}  // namespace tq
