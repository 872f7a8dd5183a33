#include <gtest/gtest.h>

#include "expiry.h"
#include "expiry_test_util.h"

namespace {

using expirytest::Cert;
using expirytest::FromNow;
using expirytest::MadeAt;

TEST(ExpiryDays, DayCountAndHorizon) {
  const FILETIME now = {0x5A0B1C00, 0x01DC7A2B};  // any fixed moment
  struct Row {
    const char* name;
    double offsetDays;
    int horizon;
    std::optional<int> days;
  } rows[] = {
      {"29.5DaysAhead", 29.5, 30, 30},
      {"31DaysAhead", 31, 30, std::nullopt},
      {"ExactlyAtTheLimit", 30, 30, 31},
      {"JustPastTheLimit", 30.00001, 30, std::nullopt},
      {"SixHoursAhead", 0.25, 30, 1},
      {"SixHoursBehind", -0.25, 30, 1},
      {"ExactlyNow", 0, 30, 1},
      {"OneDayAhead", 1, 30, 2},
      {"DayAndAHalfBehind", -1.5, 30, -1},
      {"OneDayBehind", -1, 30, -1},
      {"LongExpired", -400.2, 30, -400},
      {"ZeroHorizonIsNow", 0.1, 0, std::nullopt},
      {"ZeroHorizonExpired", -0.1, 0, 1},
      {"NegativeHorizonIsNow", 0.1, -5, std::nullopt},
      {"NegativeHorizonExpired", -2.5, -5, -2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(vd::ExpiryWarningDays(FromNow(now, row.offsetDays), now, row.horizon), row.days);
  }
}

// Replaces the modal dialog for one test: records each day count, ticks the box at a chosen call.
class ExpiryCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    shown_.clear();
    tickAt_ = -1;
    vd::ResetExpiryWarnings();
  }
  void TearDown() override { vd::ResetExpiryWarnings(); }
  static bool Record(int days) {
    shown_.push_back(days);
    return static_cast<int>(shown_.size()) - 1 == tickAt_;
  }
  static std::vector<std::vector<uint8_t>> Certs(std::initializer_list<const wchar_t*> names) {
    std::vector<std::vector<uint8_t>> v;
    for (auto* n : names) v.push_back(n[0] ? Cert(n) : std::vector<uint8_t>{});
    return v;
  }

  static inline std::vector<int> shown_;
  static inline int tickAt_ = -1;
};

TEST_F(ExpiryCheck, OneCertificateEachByTable) {
  struct Row {
    const wchar_t* cert;
    std::vector<int> shown;
  } rows[] = {
      {L"exp_29d12h.der", {30}},  {L"exp_31d.der", {}},   {L"exp_p6h.der", {1}},
      {L"exp_m6h.der", {1}},      {L"expired.der", {-1}}, {L"expiring.der", {11}},
      {L"sign.der", {}},          {L"garbage.der", {}},   {L"", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(row.cert)));
    shown_.clear();
    FILETIME now = row.cert[0] ? MadeAt(row.cert) : FILETIME{};
    vd::CheckExpiryAt(Certs({row.cert}), 30, now, &Record);
    EXPECT_EQ(shown_, row.shown);
  }
}

TEST_F(ExpiryCheck, EveryExpiringCertificateInListOrder) {
  FILETIME now = MadeAt(L"exp_29d12h.der");
  vd::CheckExpiryAt(Certs({L"expired.der", L"sign.der", L"garbage.der", L"exp_29d12h.der", L"exp_p6h.der"}), 30,
                    now, &Record);
  EXPECT_EQ(shown_, (std::vector<int>{-1, 30, 1}));
  EXPECT_TRUE(vd::ExpiryWarningsOn());
}

TEST_F(ExpiryCheck, TickingTheBoxSilencesTheRestOfTheRun) {
  FILETIME now = MadeAt(L"exp_29d12h.der");
  auto three = Certs({L"exp_29d12h.der", L"expired.der", L"exp_p6h.der"});
  tickAt_ = 0;
  vd::CheckExpiryAt(three, 30, now, &Record);
  EXPECT_EQ(shown_, std::vector<int>{30});
  EXPECT_FALSE(vd::ExpiryWarningsOn());

  // A later token, even one with an expired certificate, gets no dialog either.
  vd::CheckExpiryAt(Certs({L"expired.der"}), 30, now, &Record);
  vd::CheckExpiry(Certs({L"expired.der"}), 30, &Record);
  EXPECT_EQ(shown_, std::vector<int>{30});
}

TEST_F(ExpiryCheck, TickingInTheMiddleStopsAfterIt) {
  FILETIME now = MadeAt(L"exp_29d12h.der");
  tickAt_ = 1;
  vd::CheckExpiryAt(Certs({L"exp_29d12h.der", L"expired.der", L"exp_p6h.der"}), 30, now, &Record);
  EXPECT_EQ(shown_, (std::vector<int>{30, -1}));
}

TEST_F(ExpiryCheck, WithoutAPromptNothingIsShownAndTheSwitchStaysOn) {
  vd::CheckExpiryAt(Certs({L"expired.der"}), 30, MadeAt(L"expired.der"), nullptr);
  EXPECT_TRUE(shown_.empty());
  EXPECT_TRUE(vd::ExpiryWarningsOn());
}

TEST_F(ExpiryCheck, CurrentTimeIsUsedWithoutAGivenMoment) {
  // Whatever the age of the set, an expired certificate is warned about and a far one is not.
  vd::CheckExpiry(Certs({L"sign.der", L"expired.der"}), 30, &Record);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_LT(shown_[0], 0);
}

}  // namespace
