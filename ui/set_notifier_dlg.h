// The Set Notifier dialog: whether the usage-time reminder runs and its interval in minutes, stored per
// user (notifier_settings.h). The main dialog opens it from its Set Notifier button:
//   const SetNotifierResult r = RunSetNotifierDlg(hwnd);
//   if (r.ok) PostMessageW(hwnd, kNotifierSettingsMessage, r.enabledAtOk ? 1 : 0, r.minutes);
// Cancel changes nothing and reports ok = false.
#pragma once

#include <windows.h>

#include <string>

#include "notifier_settings.h"

namespace vd {

struct SetNotifierResult {
  bool ok = false;           // closed with OK (the settings were written, if the key could be created)
  bool enabledAtOk = false;  // the box was checked at OK
  unsigned minutes = kMinNotifierMinutes;
};

// Modal; `module` holds the dialog template (the program when null).
SetNotifierResult RunSetNotifierDlg(HWND owner, HINSTANCE module = nullptr,
                                    const NotifierSettingsLocation& where = {});

// What the interval edit shows after the user changed its text to `typed`, given the minutes held before:
// up to three characters are read as a signed number (0 when not a number) and clamped to 1..120; a longer
// text is replaced by the minutes held before.
unsigned MinutesFromEditText(const std::wstring& typed, unsigned current);

}  // namespace vd
