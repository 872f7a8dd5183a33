// The token file encoding: a round trip keeps everything, and no damaged file decodes.
#include <gtest/gtest.h>

#include "token_data.h"

namespace {

simtoken::Token Sample() {
  simtoken::Token t;
  t.present = false;
  t.SetLabel("Sample");
  t.SetSerial("0011223344556677");
  t.flags |= CKF_USER_PIN_TO_BE_CHANGED;
  t.userPin.Set("135790", 6);
  t.triesLeft = 2;
  for (int i = 0; i < 3; ++i) {
    simtoken::Object o;
    o.handle = t.NewHandle(7);
    o.SetUlong(CKA_CLASS, i ? CKO_PRIVATE_KEY : CKO_CERTIFICATE);
    o.Set(CKA_ID, "\x01\x02", 2);
    o.Set(CKA_LABEL, "", 0);
    t.objects.push_back(o);
  }
  return t;
}

TEST(TokenFile, RoundTripKeepsEverything) {
  simtoken::Token t = Sample();
  std::vector<uint8_t> bytes = simtoken::EncodeToken(t);
  std::optional<simtoken::Token> back = simtoken::DecodeToken(bytes.data(), bytes.size());
  ASSERT_TRUE(back);
  EXPECT_EQ(simtoken::EncodeToken(*back), bytes);
  EXPECT_FALSE(back->present);
  EXPECT_TRUE(back->userPin.Matches("135790", 6));
  EXPECT_EQ(back->triesLeft, 2u);
  ASSERT_EQ(back->objects.size(), 3u);
  EXPECT_EQ(back->objects[2].handle, (7u << 16) | 3u);
  EXPECT_EQ(back->nextObject, 4u);
  ASSERT_TRUE(back->objects[0].Find(CKA_LABEL));
  EXPECT_TRUE(back->objects[0].Find(CKA_LABEL)->value.empty());
}

TEST(TokenFile, EveryTruncationAndEveryFlippedByteIsRejected) {
  std::vector<uint8_t> bytes = simtoken::EncodeToken(Sample());
  for (size_t n = 0; n < bytes.size(); ++n)
    EXPECT_FALSE(simtoken::DecodeToken(bytes.data(), n)) << "truncated to " << n;
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::vector<uint8_t> bad = bytes;
    bad[i] ^= 0x01;
    EXPECT_FALSE(simtoken::DecodeToken(bad.data(), bad.size())) << "byte " << i;
  }
  std::vector<uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(simtoken::DecodeToken(longer.data(), longer.size()));
  EXPECT_FALSE(simtoken::DecodeToken(nullptr, 0));
}

TEST(TokenObject, MatchesComparesLengthAndBytes) {
  simtoken::Object o;
  o.Set(CKA_VENDOR_CONTAINER, "box", 4);
  char withNul[] = "box", other[] = "bax";
  CK_ATTRIBUTE exact{CKA_VENDOR_CONTAINER, withNul, 4};
  CK_ATTRIBUTE shorter{CKA_VENDOR_CONTAINER, withNul, 3};
  CK_ATTRIBUTE differs{CKA_VENDOR_CONTAINER, other, 4};
  CK_ATTRIBUTE absent{CKA_LABEL, withNul, 4};
  EXPECT_TRUE(o.Matches(&exact, 1));
  EXPECT_FALSE(o.Matches(&shorter, 1));
  EXPECT_FALSE(o.Matches(&differs, 1));
  EXPECT_FALSE(o.Matches(&absent, 1));
  EXPECT_TRUE(o.Matches(nullptr, 0));
}

}  // namespace
