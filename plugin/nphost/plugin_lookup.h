// How a browser finds the plug-in for a MIME type a page embeds: every subkey of SOFTWARE\MozillaPlugins,
// the user's before the machine's, names a plug-in's file in "Path" and the types it serves as the subkeys
// of its "MimeTypes".
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace nphost {

inline constexpr wchar_t kPluginsKey[] = L"SOFTWARE\\MozillaPlugins";

// The file of the first registered plug-in that serves `mimeType` and exists; nothing when none does.
// `pluginsKey` is the key looked in under HKEY_CURRENT_USER and then HKEY_LOCAL_MACHINE.
std::optional<std::wstring> FindPluginForMimeType(const std::wstring& mimeType,
                                                  const wchar_t* pluginsKey = kPluginsKey);

}  // namespace nphost
