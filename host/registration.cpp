#include "registration.h"

#include <windows.h>

#include <nlohmann/json.hpp>

#include "registry.h"
#include "text.h"

namespace host {
namespace {

constexpr char kDescription[] = "Certificate Manager token queries for bank pages";

std::wstring HostKey(const BrowserRegistration& b) { return std::wstring(b.hostsKey) + vd::Utf8ToWide(kHostName); }

bool WriteTextFile(const std::wstring& path, const std::string& text) {
  HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  const BOOL ok = ::WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
  ::CloseHandle(f);
  return ok && put == text.size();
}

}  // namespace

const std::vector<BrowserRegistration>& BrowserRegistrations() {
  static const std::vector<BrowserRegistration> table = {
      {L"Chrome", L"Software\\Google\\Chrome\\NativeMessagingHosts\\", ManifestKind::kChromium},
      {L"Chromium", L"Software\\Chromium\\NativeMessagingHosts\\", ManifestKind::kChromium},
      {L"Edge", L"Software\\Microsoft\\Edge\\NativeMessagingHosts\\", ManifestKind::kChromium},
      {L"Firefox", L"Software\\Mozilla\\NativeMessagingHosts\\", ManifestKind::kFirefox},
  };
  return table;
}

std::string ManifestText(ManifestKind kind, const std::string& exePath) {
  nlohmann::ordered_json m = {
      {"name", kHostName},
      {"description", kDescription},
      {"path", exePath},
      {"type", "stdio"},
  };
  // Chromium browsers name callers by origin, with the trailing slash; Firefox by extension ID.
  if (kind == ManifestKind::kChromium)
    m["allowed_origins"] = {std::string("chrome-extension://") + kChromiumExtensionId + "/"};
  else
    m["allowed_extensions"] = {kFirefoxExtensionId};
  return m.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::wstring ManifestFileName(ManifestKind kind) {
  return vd::Utf8ToWide(kHostName) + (kind == ManifestKind::kChromium ? L".json" : L".firefox.json");
}

bool Register(const std::wstring& folder, const std::wstring& exePath, std::string* error) {
  const std::string exe = vd::WideToUtf8(exePath);
  for (ManifestKind kind : {ManifestKind::kChromium, ManifestKind::kFirefox}) {
    if (!WriteTextFile(folder + ManifestFileName(kind), ManifestText(kind, exe))) {
      *error = "cannot write " + vd::WideToUtf8(folder + ManifestFileName(kind));
      return false;
    }
  }
  for (const BrowserRegistration& b : BrowserRegistrations()) {
    if (!vd::RegWriteString(HKEY_CURRENT_USER, HostKey(b).c_str(), nullptr, folder + ManifestFileName(b.manifest))) {
      *error = "cannot write the registry key for " + vd::WideToUtf8(b.browser);
      return false;
    }
  }
  return true;
}

bool Unregister(const std::wstring& folder, std::string* error) {
  bool ok = true;
  for (const BrowserRegistration& b : BrowserRegistrations()) {
    const LONG rc = ::RegDeleteKeyW(HKEY_CURRENT_USER, HostKey(b).c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
      *error = "cannot remove the registry key for " + vd::WideToUtf8(b.browser);
      ok = false;
    }
  }
  for (ManifestKind kind : {ManifestKind::kChromium, ManifestKind::kFirefox}) {
    const std::wstring path = folder + ManifestFileName(kind);
    if (!::DeleteFileW(path.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
      *error = "cannot remove " + vd::WideToUtf8(path);
      ok = false;
    }
  }
  return ok;
}

}  // namespace host
