// The notifier settings in the registry, the interval's clamping and the reminder text.
#include <gtest/gtest.h>

#include <string>

#include "notifier_settings.h"
#include "popup_registry.h"
#include "scoped_language.h"

namespace {

using vd::NotifierSettingsLocation;

TEST(NotifierSettings, IntervalIsClampedToOneToHundredTwenty) {
  struct Row {
    long long in;
    unsigned out;
  } rows[] = {{0, 1}, {1, 1}, {59, 59}, {120, 120}, {121, 120}, {500, 120}, {-1, 120}, {-500, 120},
              {0xFFFFFFFFll, 120}};
  for (const Row& r : rows) EXPECT_EQ(vd::ClampNotifierMinutes(r.in), r.out) << r.in;
}

TEST(NotifierSettings, StoredValuesAreReadOnlyWhenBothArePresent) {
  popuptest::ScratchKey key;
  const NotifierSettingsLocation where = key.Location();
  EXPECT_FALSE(vd::LoadNotifierSettings(where)) << "no key";

  key.SetDword(L"isNotifier", 1);
  EXPECT_FALSE(vd::LoadNotifierSettings(where)) << "no timeSpan";

  struct Row {
    DWORD isNotifier, timeSpan;
    bool enabled;
    unsigned minutes;
  } rows[] = {{1, 0, true, 1}, {1, 500, true, 120}, {1, 30, true, 30}, {0, 45, false, 45}, {7, 120, true, 120}};
  for (const Row& r : rows) {
    key.SetDword(L"isNotifier", r.isNotifier);
    key.SetDword(L"timeSpan", r.timeSpan);
    auto s = vd::LoadNotifierSettings(where);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->enabled, r.enabled) << r.isNotifier << "/" << r.timeSpan;
    EXPECT_EQ(s->minutes, r.minutes) << r.isNotifier << "/" << r.timeSpan;
  }

  // A value of the wrong size counts as absent; any 4-byte value counts.
  const WORD shortValue = 1;
  key.SetRaw(L"timeSpan", REG_BINARY, &shortValue, sizeof shortValue);
  EXPECT_FALSE(vd::LoadNotifierSettings(where));
  const DWORD binary = 15;
  key.SetRaw(L"timeSpan", REG_BINARY, &binary, sizeof binary);
  ASSERT_TRUE(vd::LoadNotifierSettings(where));
  EXPECT_EQ(vd::LoadNotifierSettings(where)->minutes, 15u);
}

TEST(NotifierSettings, SavingOffStoresTenMinutes) {
  popuptest::ScratchKey key;
  ASSERT_TRUE(vd::SaveNotifierSettings(true, 45, key.Location()));
  EXPECT_EQ(key.Dword(L"isNotifier"), 1u);
  EXPECT_EQ(key.Dword(L"timeSpan"), 45u);
  ASSERT_TRUE(vd::SaveNotifierSettings(false, 45, key.Location()));
  EXPECT_EQ(key.Dword(L"isNotifier"), 0u);
  EXPECT_EQ(key.Dword(L"timeSpan"), 10u);
}

TEST(UsageReminder, MinuteInProgressPicksTheForm) {
  struct Row {
    long long elapsed;
    int minute;
    const wchar_t* tail;
  } rows[] = {
      {0, 1, L"used for 1 minute(s)"},
      {600, 11, L"used for 11 minute(s)"},  // the first reminder after 10 minutes
      {59 * 60 - 1, 59, L"used for 59 minute(s)"},
      {59 * 60 + 30, 60, L"used for 1 hour(s) 0 minute(s)"},
      {2 * 3600 + 3 * 60 - 60, 123, L"used for 2 hour(s) 3 minute(s)"},
      {-90, 1, L"used for 1 minute(s)"},  // clock set back after the insertion
  };
  for (const Row& r : rows) {
    const int minute = vd::UsageMinute(r.elapsed);
    EXPECT_EQ(minute, r.minute) << r.elapsed;
    const std::wstring text = vd::UsageReminderText(minute);
    EXPECT_EQ(text.rfind(L"Certificate Manager\n\n\n\nYour USBKey has been ", 0), 0u) << r.elapsed;
    EXPECT_EQ(text.substr(text.size() - wcslen(r.tail)), r.tail) << r.elapsed;
  }
}

TEST(UsageReminder, UntrustedFormatsAreRefused) {
  // A translated reminder is used only when its conversions are the default's; otherwise the English one.
  struct Row {
    const wchar_t* format;
    int minute;        // below 60 the minutes form (one number), from 60 the hours form (two numbers)
    const wchar_t* out;  // null: refused, the English default shows
  } rows[] = {
      {L"used %d min", 5, L"used 5 min"},
      {L"%d h %d m", 60, L"1 h 0 m"},
      {L"100%% sure: %d", 3, L"100% sure: 3"},
      {L"%s minutes", 5, nullptr},
      {L"%d %d", 5, nullptr},
      {L"%d", 61, nullptr},
      {L"trailing %", 5, nullptr},
      {L"%n", 5, nullptr},
  };
  for (const Row& r : rows) {
    const int id = r.minute < 60 ? 200113 : 200114;
    vdtest::ScopedLanguage language(std::to_wstring(id) + L"=" + r.format + L"\r\n");
    const std::wstring got = vd::UsageReminderText(r.minute);
    if (r.out) {
      EXPECT_EQ(got, r.out) << r.format;
    } else {
      EXPECT_EQ(got.rfind(L"Certificate Manager\n\n\n\nYour USBKey has been used for ", 0), 0u) << r.format;
    }
  }
}

}  // namespace
