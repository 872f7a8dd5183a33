// Registry scaffolding of the command tests: a scratch key of the test's own, and a value saved and put
// back around a test that must use the real installation key.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <sddl.h>

#include <optional>
#include <string>
#include <vector>

#include "registry.h"

namespace cmdtest {

// A key under HKEY_CURRENT_USER, created empty (unless asked not to) and removed with everything below it.
class ScratchKey {
 public:
  explicit ScratchKey(bool create = true)
      : subkey_(L"Software\\vdtest\\commands-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(counter_++)) {
    Remove();
    if (create) {
      HKEY k = nullptr;
      ::RegCreateKeyExW(HKEY_CURRENT_USER, subkey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
      if (k) ::RegCloseKey(k);
    }
  }
  ~ScratchKey() { Remove(); }
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;

  const std::wstring& Subkey() const { return subkey_; }
  void Set(const wchar_t* name, const std::vector<BYTE>& data) const {
    ASSERT_TRUE(vd::RegWriteBytes(HKEY_CURRENT_USER, subkey_.c_str(), name, REG_SZ, data.data(),
                                  static_cast<DWORD>(data.size())));
  }
  // Everyone may read the key, nobody may change it (its owner may still change that).
  void MakeReadOnly() const { SetDacl(L"D:P(A;;KR;;;WD)"); }

 private:
  void SetDacl(const wchar_t* sddl) const {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr));
    HKEY k = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, subkey_.c_str(), 0, WRITE_DAC, &k) == ERROR_SUCCESS) {
      EXPECT_EQ(::RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, sd), ERROR_SUCCESS);
      ::RegCloseKey(k);
    }
    ::LocalFree(sd);
  }
  void Remove() const {
    SetDacl(L"D:(A;;KA;;;WD)");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, subkey_.c_str());
  }

  static inline int counter_ = 0;
  std::wstring subkey_;
};

// Saves a registry value and puts it back (or deletes it) when the test ends.
class SavedValue {
 public:
  SavedValue(HKEY root, std::wstring key, std::wstring name) : root_(root), key_(std::move(key)), name_(std::move(name)) {
    data_ = vd::RegReadBytes(root_, key_.c_str(), name_.c_str(), &type_);
  }
  ~SavedValue() {
    if (data_) {
      vd::RegWriteBytes(root_, key_.c_str(), name_.c_str(), type_, data_->data(), static_cast<DWORD>(data_->size()));
      return;
    }
    HKEY k = nullptr;
    if (::RegOpenKeyExW(root_, key_.c_str(), 0, KEY_SET_VALUE, &k) == ERROR_SUCCESS) {
      ::RegDeleteValueW(k, name_.c_str());
      ::RegCloseKey(k);
    }
  }
  SavedValue(const SavedValue&) = delete;
  SavedValue& operator=(const SavedValue&) = delete;

 private:
  HKEY root_;
  std::wstring key_, name_;
  std::optional<std::vector<BYTE>> data_;
  DWORD type_ = REG_SZ;
};

}  // namespace cmdtest
