#include "notifier_settings.h"

#include <cstring>

#include "product.h"
#include "registry.h"
#include "ui_texts.h"

namespace vd {

namespace {

std::optional<DWORD> ReadFourBytes(const NotifierSettingsLocation& where, const wchar_t* name) {
  auto data = RegReadBytes(where.root, where.subkey.c_str(), name);
  if (!data || data->size() != sizeof(DWORD)) return std::nullopt;
  DWORD v;
  std::memcpy(&v, data->data(), sizeof v);
  return v;
}

}  // namespace

std::wstring NotifierSettingsKey() { return std::wstring(kProduct.installKey) + L"\\Config\\NotifierTime"; }

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
  if (minute < 60) return FormatText(ui_text::kUsedMinutes, {minute});
  return FormatText(ui_text::kUsedHours, {minute / 60, minute % 60});
}

}  // namespace vd
