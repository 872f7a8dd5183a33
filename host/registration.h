// Installing the host for the browsers of the current user: the host manifests beside lumora_host.exe and
// the per-user registry keys through which Chrome, Chromium, Edge and Firefox find them on Windows.
#pragma once

#include <string>
#include <vector>

namespace host {

// The name pages' extension connects to; also the manifest files' base name.
inline constexpr char kHostName[] = "com.kestrova.lumora";
// The extension's identity: its Chromium ID follows from the public key in extension/manifest.json, its
// Firefox ID is set there under browser_specific_settings.
inline constexpr char kChromiumExtensionId[] = "inhgdakojggekofhnpdhkkacenljgmma";
inline constexpr char kFirefoxExtensionId[] = "lumora@kestrova.example";

enum class ManifestKind { kChromium, kFirefox };

struct BrowserRegistration {
  const wchar_t* browser;
  const wchar_t* hostsKey;  // under HKEY_CURRENT_USER; the host's name is appended as a subkey
  ManifestKind manifest;
};

// Every browser family the installation registers with.
const std::vector<BrowserRegistration>& BrowserRegistrations();

// The manifest text of a kind for a host at `exePath` (UTF-8).
std::string ManifestText(ManifestKind kind, const std::string& exePath);
// The file name of a kind's manifest, e.g. L"com.kestrova.lumora.json".
std::wstring ManifestFileName(ManifestKind kind);

// Writes both manifests into `folder` (with a trailing backslash) naming `exePath`, and points every
// browser's key at its manifest. False, with a reason, on the first failure.
bool Register(const std::wstring& folder, const std::wstring& exePath, std::string* error);
// Removes the keys and the manifests; absent ones are no failure.
bool Unregister(const std::wstring& folder, std::string* error);

}  // namespace host
