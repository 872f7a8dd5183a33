#include "notifier_settings.h"

#include <cstring>

#include "language_manager.h"
#include "registry.h"

namespace vd {

namespace {

std::optional<DWORD> ReadFourBytes(const NotifierSettingsLocation& where, const wchar_t* name) {
  auto data = RegReadBytes(where.root, where.subkey.c_str(), name);
  if (!data || data->size() != sizeof(DWORD)) return std::nullopt;
  DWORD v;
  std::memcpy(&v, data->data(), sizeof v);
  return v;
}

constexpr wchar_t kMinutesDefault[] = L"Certificate Manager\n\n\n\nYour USBKey has been used for %d minute(s)";
constexpr wchar_t kHoursDefault[] =
    L"Certificate Manager\n\n\n\nYour USBKey has been used for %d hour(s) %d minute(s)";

std::wstring Reminder(int id, const wchar_t* def, std::initializer_list<int> values) {
  if (auto text = FormatCounts(LangString(id, def), values)) return *text;
  return FormatCounts(def, values).value_or(def);
}

}  // namespace

NotifierValues ReadNotifierValues(const NotifierSettingsLocation& where) {
  return {ReadFourBytes(where, L"isNotifier"), ReadFourBytes(where, L"timeSpan")};
}

std::optional<NotifierSettings> LoadNotifierSettings(const NotifierSettingsLocation& where) {
  const NotifierValues v = ReadNotifierValues(where);
  if (!v.isNotifier || !v.timeSpan) return std::nullopt;
  return NotifierSettings{*v.isNotifier != 0, ClampNotifierMinutes(*v.timeSpan)};
}

bool SaveNotifierSettings(bool enabled, unsigned minutes, const NotifierSettingsLocation& where) {
  const DWORD on = enabled ? 1 : 0;
  const DWORD span = enabled ? minutes : kNotifierOffMinutes;
  return RegWriteDword(where.root, where.subkey.c_str(), L"isNotifier", on) &&
         RegWriteDword(where.root, where.subkey.c_str(), L"timeSpan", span);
}

unsigned ClampNotifierMinutes(long long minutes) {
  if (minutes == 0) return kMinNotifierMinutes;
  if (minutes < 0 || minutes > kMaxNotifierMinutes) return kMaxNotifierMinutes;
  return static_cast<unsigned>(minutes);
}

int UsageMinute(long long elapsedSeconds) {
  if (elapsedSeconds < 0) return 1;
  const long long minute = elapsedSeconds / 60 + 1;
  return minute > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(minute);
}

std::wstring UsageReminderText(int minute) {
  if (minute < 60) return Reminder(200113, kMinutesDefault, {minute});
  return Reminder(200114, kHoursDefault, {minute / 60, minute % 60});
}

std::optional<std::wstring> FormatCounts(const std::wstring& format, std::initializer_list<int> values) {
  std::wstring out;
  auto next = values.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != L'%') {
      out += format[i];
      continue;
    }
    if (i + 1 >= format.size()) return std::nullopt;
    const wchar_t conv = format[++i];
    if (conv == L'%') {
      out += L'%';
    } else if (conv == L'd' && next != values.end()) {
      out += std::to_wstring(*next++);
    } else {
      return std::nullopt;
    }
  }
  if (next != values.end()) return std::nullopt;
  return out;
}

}  // namespace vd
