// The checks the package runs before it changes anything: a list of trusted origins that the programs
// would not read as the administrator meant fails the install with a message saying which entry, and
// nothing (the installed version included) is touched.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

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
    // The programs' own reading of the list: what they would drop, the package refuses.
    const tq::OriginListCheck verdict = tq::CheckOriginList(list);
    if (!verdict.rejected.empty()) {
      const tq::RejectedOrigin& bad = verdict.rejected.front();
      Report(install, L"TRUSTEDORIGINS: \"" + vd::Utf8ToWide(bad.entry) + L"\" is not an origin (" +
                          vd::Utf8ToWide(bad.reason) +
                          L"; give scheme://host or scheme://host:port, entries separated by ';'). "
                          L"Nothing was installed or changed.");
      return ERROR_INSTALL_FAILURE;
    }
    if (verdict.origins.empty()) {
      Report(install, L"TRUSTEDORIGINS names no origin. Leave it out to keep the installed list. "
                      L"Nothing was installed or changed.");
      return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}
