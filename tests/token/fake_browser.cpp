// Stands in for the browser the home page is opened with: records its command line in cmdline.txt beside
// itself, so a test can see what would have been started.
#include <windows.h>

#include <string>

int wmain() {
  wchar_t self[MAX_PATH * 2];
  DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
  std::wstring path(self, n);
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"cmdline.txt";
  const wchar_t* line = ::GetCommandLineW();
  HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  DWORD put = 0;
  ::WriteFile(f, line, static_cast<DWORD>(wcslen(line) * sizeof(wchar_t)), &put, nullptr);
  ::CloseHandle(f);
  return 0;
}
