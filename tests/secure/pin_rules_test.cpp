// The rules for a new PIN, the limits the token's lengths give, and when OK may be pressed.
#include <gtest/gtest.h>

#include "pin_rules.h"

namespace {

TEST(SecurePinRules, FirstFailingRuleInOrder) {
  struct Row {
    const wchar_t* newPin;
    const wchar_t* confirmation;
    int message;  // 0: accepted
  };
  const Row rows[] = {
      {L"abc123", L"abc124", 5000},
      {L"abc123", L"ABC123", 5000},  // the comparison is exact
      {L"246802", L"246803", 5000},  // a mismatch is told before the default
      {L"246802", L"246802", 5007},
      {L"ab-123", L"ab-123", 5010},
      {L"ab c12", L"ab c12", 5010},
      {L"ab\u00e9cd", L"ab\u00e9cd", 5010},
      {L"123457", L"123457", 0},  // digits only pass
      {L"abcdef", L"abcdef", 0},  // letters only pass
      {L"RDM5274W3", L"RDM5274W3", 0},
      {L"2468021", L"2468021", 0},  // only the default itself is refused
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "new PIN of " << wcslen(r.newPin) << " characters, expecting " << r.message);
    const vd::TextEntry* failed = vd::FirstFailedPinRule(r.newPin, r.confirmation);
    EXPECT_EQ(failed ? failed->id : 0, r.message);
  }
}

TEST(SecurePinRules, LimitsFromTheTokensLengths) {
  struct Row {
    CK_ULONG tokenMin, tokenMax;
    int minimum, maximum, labelMin, labelMax;
  };
  const Row rows[] = {
      {6, 12, 6, 12, 6, 12},
      {8, 8, 8, 9, 8, 8},     // equal lengths leave room for one more
      {12, 6, 12, 13, 12, 6},
      {0, 16, 0, 16, 0, 16},  // no minimum: the edits keep their own limit
      {0, 0, 0, 0, 0, 0},
      // A module's lengths are untrusted: "unavailable" (all bits set) must not reach the edits.
      {~0UL, ~0UL, 255, 256, 255, 255},
      {4, 100000, 4, 255, 4, 255},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.tokenMin << " to " << r.tokenMax);
    vd::PinLimits l = vd::PinLimitsFor(r.tokenMin, r.tokenMax);
    EXPECT_EQ(l.minimum, r.minimum);
    EXPECT_EQ(l.maximum, r.maximum);
    EXPECT_EQ(l.tokenMinimum, r.labelMin);
    EXPECT_EQ(l.tokenMaximum, r.labelMax);
  }
}

TEST(SecurePinRules, OkNeedsEveryMinimumAndMatchingLengths) {
  struct Row {
    int oldLen, newLen, confirmLen, minimum;
    bool enabled;
  };
  const Row rows[] = {
      {6, 6, 6, 6, true},   {5, 6, 6, 6, false}, {6, 5, 5, 6, false}, {6, 7, 6, 6, false},
      {6, 6, 7, 6, false},  {6, 12, 12, 6, true}, {0, 1, 1, 0, true},  {0, 0, 0, 0, false},
      {3, 2, 2, 0, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.oldLen << "/" << r.newLen << "/" << r.confirmLen << " min " << r.minimum);
    std::vector<vd::PinEditState> edits = {{r.oldLen, r.minimum}, {r.newLen, r.minimum}, {r.confirmLen, r.minimum}};
    EXPECT_EQ(vd::OkButtonEnabled(edits, r.newLen, r.confirmLen), r.enabled);
  }
}

}  // namespace
