#include "plugin_lookup.h"

#include "handles.h"
#include "registry.h"

namespace nphost {
namespace {

std::optional<std::wstring> FindUnder(HKEY root, const std::wstring& pluginsKey, const std::wstring& mimeType) {
  vd::UniqueRegKey plugins;
  if (::RegOpenKeyExW(root, pluginsKey.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, plugins.put()) != ERROR_SUCCESS)
    return std::nullopt;
  wchar_t name[256];  // the longest key name the registry allows, plus its terminator
  for (DWORD i = 0;; ++i) {
    DWORD length = static_cast<DWORD>(std::size(name));
    const LONG rc = ::RegEnumKeyExW(plugins.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return std::nullopt;
    if (rc != ERROR_SUCCESS) continue;
    const std::wstring entry = pluginsKey + L"\\" + name;
    vd::UniqueRegKey type;
    // Key names compare without case, as MIME types do.
    if (::RegOpenKeyExW(root, (entry + L"\\MimeTypes\\" + mimeType).c_str(), 0, KEY_QUERY_VALUE, type.put()) !=
        ERROR_SUCCESS)
      continue;
    // An entry whose file is gone is skipped, as a browser skips it, so a later one can still serve.
    std::optional<std::wstring> path = vd::RegReadString(root, entry.c_str(), L"Path");
    if (path && !path->empty() && ::GetFileAttributesW(path->c_str()) != INVALID_FILE_ATTRIBUTES) return path;
  }
}

}  // namespace

std::optional<std::wstring> FindPluginForMimeType(const std::wstring& mimeType, const wchar_t* pluginsKey) {
  if (mimeType.empty()) return std::nullopt;  // it would name every entry's MimeTypes key itself
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    if (std::optional<std::wstring> path = FindUnder(root, pluginsKey, mimeType)) return path;
  }
  return std::nullopt;
}

}  // namespace nphost
