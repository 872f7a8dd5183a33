#include "trusted_origins.h"

#include <windows.h>

#include <algorithm>

#include "product.h"
#include "registry.h"
#include "text.h"

namespace tq {
namespace {

// Schemes whose default port a browser leaves out of an origin.
constexpr struct {
  std::string_view scheme;
  std::string_view port;
} kDefaultPorts[] = {{"http", "80"}, {"https", "443"}, {"ws", "80"}, {"wss", "443"}};

bool IsSchemeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

bool IsHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '[' ||
         c == ']' || c == ':';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string NormaliseOrigin(std::string_view text) {
  std::string s(Trim(text));
  std::transform(s.begin(), s.end(), s.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
  if (!s.empty() && s.back() == '/') s.pop_back();
  const size_t sep = s.find("://");
  if (sep == std::string::npos || sep == 0 || !(s[0] >= 'a' && s[0] <= 'z')) return {};
  const std::string_view scheme(s.data(), sep);
  if (!std::all_of(scheme.begin(), scheme.end(), IsSchemeChar)) return {};
  std::string_view authority(s.data() + sep + 3, s.size() - sep - 3);
  if (authority.empty() || !std::all_of(authority.begin(), authority.end(), IsHostChar)) return {};

  // The port is what follows the last ':' outside an IPv6 literal's brackets.
  std::string_view host = authority, port;
  const size_t colon = authority.rfind(':');
  const size_t bracket = authority.rfind(']');
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
    if (port.empty() || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return {};
  }
  if (host.empty() || (host.find(':') != std::string_view::npos && host.front() != '[')) return {};
  for (const auto& d : kDefaultPorts) {
    if (scheme == d.scheme && port == d.port) port = {};
  }
  std::string out(scheme);
  out += "://";
  out += host;
  if (!port.empty()) {
    out += ':';
    out += port;
  }
  return out;
}

TrustedOrigins TrustedOrigins::FromText(std::wstring_view text) {
  TrustedOrigins list;
  list.present_ = true;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(L"\r\n", start);
    end = std::min(end, text.find(L'\0', start));
    if (end == std::wstring_view::npos) end = text.size();
    std::string origin = NormaliseOrigin(vd::WideToUtf8(text.substr(start, end - start)));
    if (!origin.empty() && std::find(list.origins_.begin(), list.origins_.end(), origin) == list.origins_.end())
      list.origins_.push_back(std::move(origin));
    start = end + 1;
  }
  return list;
}

TrustedOrigins TrustedOrigins::FromRegistry() {
  DWORD type = 0;
  auto data = vd::RegReadBytes(HKEY_LOCAL_MACHINE, vd::kProduct.installKey, kTrustedOriginsValue, &type);
  if (!data) return {};
  if (type != REG_SZ && type != REG_MULTI_SZ && type != REG_EXPAND_SZ) {
    TrustedOrigins nobody;
    nobody.present_ = true;
    return nobody;
  }
  std::wstring_view text(reinterpret_cast<const wchar_t*>(data->data()), data->size() / sizeof(wchar_t));
  return FromText(text);
}

bool TrustedOrigins::Names(std::string_view origin) const {
  const std::string wanted = NormaliseOrigin(origin);
  return !wanted.empty() && std::find(origins_.begin(), origins_.end(), wanted) != origins_.end();
}

}  // namespace tq
