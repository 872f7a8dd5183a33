#include "trusted_origins.h"

#include <algorithm>

#include "product.h"
#include "punycode.h"
#include "registry.h"
#include "text.h"

namespace tq {
namespace {

// What is wrong with an entry, in the words the host's log and the installer's check show.
namespace why {
constexpr char kNoScheme[] = "not of the form scheme://host[:port]";
constexpr char kScheme[] = "only http and https origins are served";
constexpr char kPath[] = "an origin has no path, query or fragment";
constexpr char kUserInfo[] = "an origin has no user name or password";
constexpr char kWildcard[] = "wildcards are not supported";
constexpr char kNoHost[] = "the host name is missing";
constexpr char kHost[] = "the host name is malformed";
constexpr char kIdn[] = "the host name cannot be written in ASCII";
constexpr char kIpv4[] = "the IPv4 address is malformed";
constexpr char kIpv6[] = "the IPv6 address is malformed";
constexpr char kPortForm[] = "the port is not a number";
constexpr char kPortRange[] = "the port is outside 1-65535";
}  // namespace why

constexpr struct {
  std::string_view scheme;
  unsigned port;
} kSchemes[] = {{"http", 80}, {"https", 443}};

constexpr size_t kMaxLabel = 63;
constexpr size_t kMaxHost = 253;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f'); }
bool IsLabelChar(char c) { return (c >= 'a' && c <= 'z') || IsDigit(c) || c == '-' || c == '_'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string Fail(std::string* out, const char* reason) {
  if (out) *out = reason;
  return {};
}

// Four decimal parts of 0-255 without leading zeros: the one form browsers keep as they get it.
bool IsIpv4(std::string_view host) {
  int parts = 0;
  size_t start = 0;
  for (;;) {
    const size_t dot = host.find('.', start);
    const std::string_view part = host.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), IsDigit)) return false;
    if ((part.size() > 1 && part[0] == '0') || std::stoi(std::string(part)) > 255) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

// Hex groups of up to four digits separated by ':', at most one "::", eight groups without it.
bool IsIpv6(std::string_view inner) {
  if (inner.empty()) return false;
  const size_t gap = inner.find("::");
  if (gap != std::string_view::npos && inner.find("::", gap + 1) != std::string_view::npos) return false;
  int groups = 0;
  size_t i = 0;
  while (i < inner.size()) {
    if (inner[i] == ':') {
      if (i + 1 < inner.size() && inner[i + 1] == ':') {
        i += 2;
        continue;
      }
      if (i == 0 || i + 1 == inner.size()) return false;
      ++i;
      continue;
    }
    size_t n = 0;
    while (i < inner.size() && IsHex(inner[i])) {
      ++i;
      ++n;
    }
    if (n == 0 || n > 4) return false;
    ++groups;
  }
  return gap != std::string_view::npos ? groups < 8 : groups == 8;
}

// The host in its ASCII form, checked label by label; empty with a reason when it is no host.
std::string NormaliseHost(std::string_view host, std::string* reason) {
  if (host.empty()) return Fail(reason, why::kNoHost);
  if (host.front() == '[') {
    std::string lower(host);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
    if (lower.back() != ']' || !IsIpv6(std::string_view(lower).substr(1, lower.size() - 2))) return Fail(reason, why::kIpv6);
    return lower;
  }
  const auto ascii = HostToAscii(host);
  if (!ascii) return Fail(reason, why::kIdn);
  const std::string& name = *ascii;
  if (name.size() > kMaxHost) return Fail(reason, why::kHost);
  // A name whose last label is a number is an IPv4 address to a browser.
  const std::string_view last = std::string_view(name).substr(name.rfind('.') == std::string::npos ? 0 : name.rfind('.') + 1);
  if (!last.empty() && std::all_of(last.begin(), last.end(), IsDigit)) return IsIpv4(name) ? name : Fail(reason, why::kIpv4);
  size_t start = 0;
  for (;;) {
    const size_t dot = name.find('.', start);
    const std::string_view label =
        std::string_view(name).substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (label.empty() || label.size() > kMaxLabel || label.front() == '-' || label.back() == '-' ||
        !std::all_of(label.begin(), label.end(), IsLabelChar)) {
      return Fail(reason, why::kHost);
    }
    if (label.size() > 4 && label.substr(0, 4) == "xn--" && !PunycodeDecode(label.substr(4))) return Fail(reason, why::kIdn);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return name;
}

// Splits a list's text at line ends, NULs and ";", dropping blank entries.
std::vector<std::wstring_view> Entries(std::wstring_view text) {
  std::vector<std::wstring_view> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = start;
    while (end < text.size() && text[end] != L'\r' && text[end] != L'\n' && text[end] != L'\0' && text[end] != L';')
      ++end;
    std::wstring_view entry = text.substr(start, end - start);
    while (!entry.empty() && (entry.front() == L' ' || entry.front() == L'\t')) entry.remove_prefix(1);
    while (!entry.empty() && (entry.back() == L' ' || entry.back() == L'\t')) entry.remove_suffix(1);
    if (!entry.empty()) out.push_back(entry);
    start = end + 1;
  }
  return out;
}

}  // namespace

std::string NormaliseOrigin(std::string_view text, std::string* reason) {
  const std::string_view s = Trim(text);
  const size_t sep = s.find("://");
  if (sep == std::string_view::npos || sep == 0) return Fail(reason, why::kNoScheme);
  std::string scheme(s.substr(0, sep));
  std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
  unsigned defaultPort = 0;
  for (const auto& known : kSchemes) {
    if (scheme == known.scheme) defaultPort = known.port;
  }
  if (!defaultPort) return Fail(reason, why::kScheme);
  std::string_view rest = s.substr(sep + 3);
  // One trailing "/" is how many people write an origin; anything after it is a path.
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.find_first_of("/?#\\") != std::string_view::npos) return Fail(reason, why::kPath);
  if (rest.find('@') != std::string_view::npos) return Fail(reason, why::kUserInfo);
  if (rest.find('*') != std::string_view::npos) return Fail(reason, why::kWildcard);

  // The port is what follows the last ':' outside an IPv6 literal's brackets.
  std::string_view host = rest, port;
  const size_t colon = rest.rfind(':');
  const size_t bracket = rest.rfind(']');
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), IsDigit))
      return Fail(reason, port.size() > 5 && std::all_of(port.begin(), port.end(), IsDigit) ? why::kPortRange : why::kPortForm);
  }
  unsigned portNumber = defaultPort;
  if (!port.empty()) {
    portNumber = static_cast<unsigned>(std::stoul(std::string(port)));
    if (portNumber < 1 || portNumber > 65535) return Fail(reason, why::kPortRange);
  }
  const std::string normalHost = NormaliseHost(host, reason);
  if (normalHost.empty()) return {};
  std::string out = scheme + "://" + normalHost;
  if (portNumber != defaultPort) out += ':' + std::to_string(portNumber);
  return out;
}

std::string DisplayOrigin(std::string_view origin) {
  const size_t sep = origin.find("://");
  if (sep == std::string_view::npos || origin.find("xn--") == std::string_view::npos) return std::string(origin);
  const std::string_view rest = origin.substr(sep + 3);
  const size_t colon = rest.rfind(':');
  const std::string_view host = rest.substr(0, colon);
  const std::string unicode = HostToUnicode(host);
  if (unicode == host) return std::string(origin);
  std::string shown(origin.substr(0, sep + 3));
  shown += unicode;
  if (colon != std::string_view::npos) shown += rest.substr(colon);
  return shown + " (" + std::string(origin) + ")";
}

OriginListCheck CheckOriginList(std::wstring_view text) {
  OriginListCheck check;
  for (std::wstring_view entry : Entries(text)) {
    const std::string written = vd::WideToUtf8(entry);
    std::string reason;
    std::string origin = NormaliseOrigin(written, &reason);
    if (origin.empty()) {
      const bool known = std::any_of(check.rejected.begin(), check.rejected.end(),
                                     [&](const RejectedOrigin& r) { return r.entry == written; });
      if (!known) check.rejected.push_back({written, reason});
    } else if (std::find(check.origins.begin(), check.origins.end(), origin) == check.origins.end()) {
      check.origins.push_back(std::move(origin));
    }
  }
  return check;
}

TrustedOrigins TrustedOrigins::FromText(std::wstring_view text) {
  OriginListCheck check = CheckOriginList(text);
  TrustedOrigins list;
  list.present_ = true;
  list.origins_ = std::move(check.origins);
  list.rejected_ = std::move(check.rejected);
  return list;
}

TrustedOrigins TrustedOrigins::FromValue(HKEY root, const wchar_t* subkey, const wchar_t* name) {
  DWORD type = 0;
  auto data = vd::RegReadBytes(root, subkey, name, &type);
  if (!data) return {};
  if (type != REG_SZ && type != REG_MULTI_SZ && type != REG_EXPAND_SZ) {
    TrustedOrigins nobody;
    nobody.present_ = true;
    nobody.unreadable_ = true;
    return nobody;
  }
  std::wstring_view text(reinterpret_cast<const wchar_t*>(data->data()), data->size() / sizeof(wchar_t));
  return FromText(text);
}

TrustedOrigins TrustedOrigins::FromRegistry() {
  TrustedOrigins policy = FromValue(HKEY_LOCAL_MACHINE, kTrustedOriginsPolicyKey, kTrustedOriginsValue);
  if (policy.present()) return policy;
  return FromValue(HKEY_LOCAL_MACHINE, vd::kProduct.installKey, kTrustedOriginsValue);
}

bool TrustedOrigins::Names(std::string_view origin) const {
  const std::string wanted = NormaliseOrigin(origin);
  return !wanted.empty() && std::find(origins_.begin(), origins_.end(), wanted) != origins_.end();
}

}  // namespace tq
