// The token file encoding: a round trip keeps everything, and no damaged file decodes.
#include <gtest/gtest.h>

#include "sha256.h"
#include "testsupport.h"
#include "token_data.h"

#include <algorithm>
#include <cstring>

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

std::string Hex(const uint8_t* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) out += {digits[p[i] >> 4], digits[p[i] & 15]};
  return out;
}

std::string Sha256Hex(const std::string& message, size_t piece) {
  simtoken::Sha256 h;
  for (size_t pos = 0; pos < message.size(); pos += piece) h.Update(message.data() + pos, std::min(piece, message.size() - pos));
  uint8_t out[simtoken::Sha256::kSize];
  h.Final(out);
  return Hex(out, sizeof out);
}

// The published test vectors, fed whole and in pieces of every size around the 64-byte block and the
// 56-byte padding boundary.
TEST(Sha256, KnownDigestsWhateverThePieces) {
  struct Row {
    std::string message;
    const char* digest;
  } rows[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
       "nopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Row& r : rows) {
    for (size_t piece : {size_t{1}, size_t{7}, size_t{55}, size_t{56}, size_t{63}, size_t{64}, size_t{65}, size_t{1000000}}) {
      if (r.message.size() > 1000 && piece < 55) continue;
      EXPECT_EQ(Sha256Hex(r.message, piece), r.digest) << r.message.size() << " bytes in pieces of " << piece;
    }
  }
}

TEST(PinRecord, MatchesOnlyTheSamePinAndSaltsDiffer) {
  simtoken::PinRecord none;
  EXPECT_FALSE(none.Matches("", 0)) << "a record never set matches nothing";
  simtoken::PinRecord r;
  r.Set("246802", 6);
  struct Row {
    const char* pin;
    size_t len;
    bool match;
  } rows[] = {{"246802", 6, true}, {"246803", 6, false}, {"24680", 5, false}, {"2468021", 7, false},
              {"246802\0", 7, false}, {"", 0, false}};
  for (const Row& row : rows) EXPECT_EQ(r.Matches(row.pin, row.len), row.match) << row.pin << "/" << row.len;
  simtoken::PinRecord again;
  again.Set("246802", 6);
  EXPECT_NE(std::memcmp(again.salt, r.salt, sizeof r.salt), 0);
  EXPECT_NE(std::memcmp(again.digest, r.digest, sizeof r.digest), 0) << "the same PIN hashes differently";
  EXPECT_TRUE(again.Matches("246802", 6));
}

TEST(TokenFile, PreviousFormatIsReadAndItsPinHashed) {
  std::vector<uint8_t> old = vdtest::ReadFileBytes(vdtest::BinDir() + L"testdata\\slot_previous_format.tok");
  ASSERT_GT(old.size(), 8u);
  bool previous = false;
  std::optional<simtoken::Token> t = simtoken::DecodeToken(old.data(), old.size(), &previous);
  ASSERT_TRUE(t);
  EXPECT_TRUE(previous);
  EXPECT_TRUE(t->userPin.Matches("135790", 6));
  EXPECT_EQ(t->objects.size(), 2u);
  std::vector<uint8_t> now = simtoken::EncodeToken(*t);
  ASSERT_TRUE(simtoken::DecodeToken(now.data(), now.size(), &previous));
  EXPECT_FALSE(previous);
  EXPECT_EQ(std::search(now.begin(), now.end(), "135790", "135790" + 6), now.end());
  // A damaged file of the previous format is refused like any other.
  old[old.size() / 2] ^= 1;
  EXPECT_FALSE(simtoken::DecodeToken(old.data(), old.size()));
}

}  // namespace
