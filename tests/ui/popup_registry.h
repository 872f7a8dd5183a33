// A scratch registry key for one test, removed with everything below it afterwards.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "notifier_settings.h"

namespace popuptest {

class ScratchKey {
 public:
  ScratchKey() : subkey_(L"Software\\vdtest\\popup-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                         std::to_wstring(counter_++)) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, subkey_.c_str());
  }
  ~ScratchKey() { ::RegDeleteTreeW(HKEY_CURRENT_USER, subkey_.c_str()); }
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;

  vd::NotifierSettingsLocation Location() const { return {HKEY_CURRENT_USER, subkey_}; }
  void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY k = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, subkey_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k,
                                nullptr), ERROR_SUCCESS);
    ::RegSetValueExW(k, name, 0, type, static_cast<const BYTE*>(data), size);
    ::RegCloseKey(k);
  }
  void SetDword(const wchar_t* name, DWORD v) { SetRaw(name, REG_DWORD, &v, sizeof v); }
  // The stored DWORD, or 0xDEADBEEF when absent.
  DWORD Dword(const wchar_t* name) const {
    DWORD v = 0, size = sizeof v;
    if (::RegGetValueW(HKEY_CURRENT_USER, subkey_.c_str(), name, RRF_RT_REG_DWORD, nullptr, &v, &size) !=
        ERROR_SUCCESS)
      return 0xDEADBEEF;
    return v;
  }
  bool Exists() const {
    HKEY k = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, subkey_.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    ::RegCloseKey(k);
    return true;
  }

 private:
  static inline int counter_ = 0;
  std::wstring subkey_;
};

}  // namespace popuptest
