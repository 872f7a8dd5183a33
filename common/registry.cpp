#include "registry.h"

#include "handles.h"

namespace vd {

std::optional<std::vector<BYTE>> RegReadBytes(HKEY root, const wchar_t* subkey, const wchar_t* name,
                                              DWORD* type) {
  UniqueRegKey key;
  if (::RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return std::nullopt;
  // The value can grow between the size query and the read; retry a few times rather than trust one size.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = 0, t = 0;
    if (::RegQueryValueExW(key.get(), name, nullptr, &t, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    std::vector<BYTE> data(size);
    LONG rc = ::RegQueryValueExW(key.get(), name, nullptr, &t, data.empty() ? nullptr : data.data(), &size);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) return std::nullopt;
    data.resize(size);
    if (type) *type = t;
    return data;
  }
  return std::nullopt;
}

std::optional<std::wstring> RegReadString(HKEY root, const wchar_t* subkey, const wchar_t* name) {
  DWORD type = 0;
  auto data = RegReadBytes(root, subkey, name, &type);
  if (!data || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
  size_t chars = data->size() / sizeof(wchar_t);
  std::wstring s(reinterpret_cast<const wchar_t*>(data->data()), chars);
  size_t nul = s.find(L'\0');
  if (nul != std::wstring::npos) s.resize(nul);
  return s;
}

std::optional<DWORD> RegReadDword(HKEY root, const wchar_t* subkey, const wchar_t* name) {
  DWORD type = 0;
  auto data = RegReadBytes(root, subkey, name, &type);
  if (!data || type != REG_DWORD || data->size() != sizeof(DWORD)) return std::nullopt;
  DWORD v;
  memcpy(&v, data->data(), sizeof v);
  return v;
}

bool RegWriteBytes(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type, const void* data,
                   DWORD size) {
  UniqueRegKey key;
  if (::RegCreateKeyExW(root, subkey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
      ERROR_SUCCESS)
    return false;
  return ::RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool RegWriteString(HKEY root, const wchar_t* subkey, const wchar_t* name, const std::wstring& value) {
  return RegWriteBytes(root, subkey, name, REG_SZ, value.c_str(),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool RegWriteDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value) {
  return RegWriteBytes(root, subkey, name, REG_DWORD, &value, sizeof value);
}

}  // namespace vd
