// The checks the package runs before it changes anything: a list of trusted origins that the programs
// would not read as the administrator meant fails the install with a message saying which entry, and
// nothing (the installed version included) is touched.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <string_view>
#include <vector>

#include "text.h"
#include "trusted_origins.h"

namespace {

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
  DWORD size = 0;
  wchar_t empty[1] = {};
  if (::MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) return {};
  std::wstring value(++size, L'\0');
  if (::MsiGetPropertyW(install, name, value.data(), &size) != ERROR_SUCCESS) return {};
  value.resize(size);
  return value;
}

std::wstring_view Trimmed(std::wstring_view s) {
  while (!s.empty() && (s.front() == L' ' || s.front() == L'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == L' ' || s.back() == L'\t')) s.remove_suffix(1);
  return s;
}

// The entries of the ';'-separated list that the programs would drop as no origin, and how many they
// would keep. The programs' own parser decides each entry.
struct ListVerdict {
  std::vector<std::wstring> rejected;
  size_t kept = 0;
};

ListVerdict Judge(std::wstring_view list) {
  ListVerdict verdict;
  while (!list.empty()) {
    const size_t end = list.find(L';');
    const std::wstring_view entry = Trimmed(list.substr(0, end));
    list = end == std::wstring_view::npos ? std::wstring_view{} : list.substr(end + 1);
    if (entry.empty()) continue;  // ";;" and a trailing ';' name nothing, as in the programs
    if (tq::NormaliseOrigin(vd::WideToUtf8(entry)).empty())
      verdict.rejected.emplace_back(entry);
    else
      ++verdict.kept;
  }
  return verdict;
}

// Shown in a full UI, written to the log in any: field 0 only refers to field 1, so that nothing in the
// administrator's text is read as a property reference.
void Report(MSIHANDLE install, const std::wstring& text) {
  PMSIHANDLE record = ::MsiCreateRecord(1);
  ::MsiRecordSetStringW(record, 0, L"[1]");
  ::MsiRecordSetStringW(record, 1, text.c_str());
  ::MsiProcessMessage(install, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), record);
}

}  // namespace

// The list the package is about to write: the one an administrator named, or the package's default. An
// install that writes none (no list named, none installed, no default) passes.
extern "C" UINT __stdcall CheckTrustedOrigins(MSIHANDLE install) {
  try {
    const std::wstring list = Property(install, L"TRUSTEDORIGINS");
    if (list.empty()) return ERROR_SUCCESS;
    const ListVerdict verdict = Judge(list);
    if (!verdict.rejected.empty()) {
      Report(install, L"TRUSTEDORIGINS: \"" + verdict.rejected.front() +
                          L"\" is not an origin (scheme://host or scheme://host:port, entries separated by ';'). "
                          L"Nothing was installed or changed.");
      return ERROR_INSTALL_FAILURE;
    }
    if (verdict.kept == 0) {
      Report(install, L"TRUSTEDORIGINS names no origin. Leave it out to keep the installed list. "
                      L"Nothing was installed or changed.");
      return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}
