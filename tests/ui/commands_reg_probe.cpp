// Prints a registry value as another program sees it: "<type> <size> <hex bytes>", or "absent".
//   commands_reg_probe.exe HKCU|HKLM SUBKEY VALUE
#include <windows.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  HKEY root = lstrcmpiW(argv[1], L"HKLM") == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, argv[2], 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    std::printf("absent");
    return 0;
  }
  DWORD type = 0, size = 0;
  if (::RegQueryValueExW(key, argv[3], nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    std::printf("absent");
    ::RegCloseKey(key);
    return 0;
  }
  std::vector<BYTE> data(size + 1);
  ::RegQueryValueExW(key, argv[3], nullptr, &type, data.data(), &size);
  ::RegCloseKey(key);
  std::printf("%lu %lu", static_cast<unsigned long>(type), static_cast<unsigned long>(size));
  for (DWORD i = 0; i < size; ++i) std::printf(" %02x", data[i]);
  return 0;
}
