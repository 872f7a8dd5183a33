#include "home_page_flag.h"

#include "handles.h"
#include "registry.h"

namespace vd {

namespace {
constexpr wchar_t kPopFlag[] = L"PopFlag";
}  // namespace

std::optional<bool> ReadPopFlag(const InstallKeyLocation& where) {
  auto data = RegReadBytes(where.userRoot, where.userSubkey.c_str(), kPopFlag);
  if (!data) data = RegReadBytes(where.root, where.subkey.c_str(), kPopFlag);
  if (!data) return std::nullopt;
  return !data->empty() && (*data)[0] == '1';
}

bool WritePopFlag(bool on, const InstallKeyLocation& where) {
  UniqueRegKey key;
  if (::RegCreateKeyExW(where.userRoot, where.userSubkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
    return false;
  const BYTE flag = on ? '1' : '0';
  return ::RegSetValueExW(key.get(), kPopFlag, 0, REG_SZ, &flag, 1) == ERROR_SUCCESS;
}

}  // namespace vd
