#include "trusted_list.h"

#include "handles.h"
#include "product.h"
#include "registry.h"
#include "trusted_origins.h"

namespace hosttest {

ScopedTrustedOrigins::ScopedTrustedOrigins(const wchar_t* key)
    : key_(key ? key : vd::kProduct.installKey),
      saved_(vd::RegReadBytes(HKEY_LOCAL_MACHINE, key_.c_str(), tq::kTrustedOriginsValue, &savedType_)) {}

ScopedTrustedOrigins::~ScopedTrustedOrigins() {
  if (saved_)
    SetRaw(savedType_, saved_->data(), static_cast<DWORD>(saved_->size()));
  else
    Remove();
}

void ScopedTrustedOrigins::Remove() {
  vd::UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
    ::RegDeleteValueW(key.get(), tq::kTrustedOriginsValue);
}

bool ScopedTrustedOrigins::SetList(const std::vector<std::wstring>& origins) {
  std::wstring multi;
  for (const std::wstring& o : origins) multi += o + L'\0';
  multi += L'\0';
  return SetRaw(REG_MULTI_SZ, multi.data(), static_cast<DWORD>(multi.size() * sizeof(wchar_t)));
}

bool ScopedTrustedOrigins::SetRaw(DWORD type, const void* data, DWORD size) {
  return vd::RegWriteBytes(HKEY_LOCAL_MACHINE, key_.c_str(), tq::kTrustedOriginsValue, type, data, size);
}

bool ScopedTrustedOrigins::SetText(const std::wstring& text) {
  return vd::RegWriteString(HKEY_LOCAL_MACHINE, key_.c_str(), tq::kTrustedOriginsValue, text);
}

}  // namespace hosttest
