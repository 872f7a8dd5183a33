// The per-user settings of the usage-time reminder and the reminder's text.
// The main dialog uses them so:
//  - applying the stored settings (its settings message with minutes 0): `LoadNotifierSettings()`; nothing
//    back means the timer stays as it is, otherwise the reminder timer runs every `minutes` x 60000 ms when
//    `enabled`;
//  - at each reminder tick, per token: `UsageReminderText(UsageMinute(now - startTime))`;
//  - the Set Notifier dialog (set_notifier_dlg.h) reads and writes the same key.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace vd {

// The per-user key under HKEY_CURRENT_USER: the installation key's path plus "\Config\NotifierTime".
std::wstring NotifierSettingsKey();
inline constexpr unsigned kMinNotifierMinutes = 1;
inline constexpr unsigned kMaxNotifierMinutes = 120;
// What "off" stores as the interval.
inline constexpr DWORD kNotifierOffMinutes = 10;

// Where the settings live; tests point it elsewhere.
struct NotifierSettingsLocation {
  HKEY root = HKEY_CURRENT_USER;
  std::wstring subkey = NotifierSettingsKey();
};

struct NotifierSettings {
  bool enabled = false;
  unsigned minutes = kMinNotifierMinutes;
};

// The raw values, each absent when it is missing or not a 4-byte value.
struct NotifierValues {
  std::optional<DWORD> isNotifier;
  std::optional<DWORD> timeSpan;
};
NotifierValues ReadNotifierValues(const NotifierSettingsLocation& where = {});

// Both values present: the settings with the interval clamped; otherwise nothing.
std::optional<NotifierSettings> LoadNotifierSettings(const NotifierSettingsLocation& where = {});

// Checked: "isNotifier" 1 and "timeSpan" = minutes; unchecked: 0 and 10. False when the key cannot be
// created or a value cannot be written.
bool SaveNotifierSettings(bool enabled, unsigned minutes, const NotifierSettingsLocation& where = {});

// 0 becomes 1; above 120 becomes 120, and so does a negative number (it counts as above).
unsigned ClampNotifierMinutes(long long minutes);

// The minute in progress after `elapsedSeconds`: 10 minutes after insertion this is 11. Never below 1, so
// a clock set back does not announce a negative time.
int UsageMinute(long long elapsedSeconds);
// "... used for %d minute(s)" below 60 minutes, "... %d hour(s) %d minute(s)" from 60 on, translated.
std::wstring UsageReminderText(int minute);

}  // namespace vd
