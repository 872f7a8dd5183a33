// The cipher, the wiping of PIN copies and the random source behind keys, shuffles and desktop names.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "rc4.h"
#include "secret_memory.h"
#include "secret_text.h"

namespace {

std::vector<uint8_t> Bytes(const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s)); }

TEST(SecureCipher, Rc4MatchesPublishedVectorsAndStartsAfreshEachCall) {
  struct Row {
    const char* key;
    const char* plain;
    std::vector<uint8_t> cipher;
  };
  const Row rows[] = {
      {"Key", "Plaintext", {0xBB, 0xF3, 0x16, 0xE8, 0xD9, 0x40, 0xAF, 0x0A, 0xD3}},
      {"Wiki", "pedia", {0x10, 0x21, 0xBF, 0x04, 0x20}},
      {"Secret", "Attack at dawn", {0x45, 0xA0, 0x1F, 0x64, 0x5F, 0xC3, 0x5B, 0x38, 0x35, 0x52, 0x54, 0x4B, 0x9B, 0xF5}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.key);
    std::vector<uint8_t> key = Bytes(r.key), data = Bytes(r.plain);
    vd::Rc4Apply(key.data(), key.size(), data.data(), data.size());
    EXPECT_EQ(data, r.cipher);
    // A second call must not continue the first one's keystream.
    vd::Rc4Apply(key.data(), key.size(), data.data(), data.size());
    EXPECT_EQ(data, Bytes(r.plain));
  }
}

TEST(SecureMemory, WipeClearsTheWholeBufferOfAnyLength) {
  for (const wchar_t* pin : {L"", L"7", L"ab", L"abcdef", L"abcdefghijklmnopqrstuvwxyz0123456789"}) {
    SCOPED_TRACE(std::wstring(pin).size());
    std::wstring s;
    vd::PrepareSecret(s);
    s.assign(pin);
    const wchar_t* buffer = s.data();
    const size_t capacity = s.capacity();
    vd::WipeString(s);
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(s.data(), buffer) << "the buffer is kept, not freed with the PIN in it";
    for (size_t i = 0; i <= capacity; ++i) ASSERT_EQ(buffer[i], L'\0') << "at " << i;
  }
}

TEST(SecureMemory, PreparedSecretsNeverReallocate) {
  std::wstring w;
  vd::PrepareSecret(w);
  const wchar_t* wb = w.data();
  std::string n;
  vd::PrepareSecret(n);
  const char* nb = n.data();
  for (size_t i = 0; i < vd::kSecretCapacity; ++i) {
    w.push_back(L'x');
    n.push_back('x');
  }
  EXPECT_EQ(w.data(), wb);
  EXPECT_EQ(n.data(), nb);
}

TEST(SecureMemory, Utf8ConversionFillsThePreparedBuffer) {
  struct Row {
    const wchar_t* pin;
    const char* utf8;
    bool ok;
  };
  const Row rows[] = {{L"", "", true}, {L"abc123", "abc123", true}, {L"\u00e9t\u00e9", "\xc3\xa9t\xc3\xa9", true}};
  for (const Row& r : rows) {
    std::string out = "left over";
    EXPECT_EQ(vd::SecretToUtf8(r.pin, out), r.ok);
    EXPECT_EQ(out, r.utf8);
    EXPECT_GE(out.capacity(), vd::kSecretCapacity);
  }
  // Too long for a PIN buffer: refused, nothing kept.
  std::string out;
  EXPECT_FALSE(vd::SecretToUtf8(std::wstring(vd::kSecretCapacity + 1, L'a'), out));
  EXPECT_TRUE(out.empty());
}

TEST(SecureMemory, SecretTextWipesWhatErasingShiftsOut) {
  vd::SecretText t;
  for (wchar_t c : std::wstring(L"abcdef")) ASSERT_TRUE(t.Insert(t.size(), c));
  t.Erase(1, 2);
  EXPECT_EQ(std::wstring(t.data(), t.size()), L"adef");
  for (size_t i = t.size(); i <= vd::SecretText::kCapacity; ++i) ASSERT_EQ(t.data()[i], L'\0') << i;
  EXPECT_FALSE(t.Insert(10, L'x')) << "beyond the content";
  for (size_t i = t.size(); i < vd::SecretText::kCapacity; ++i) ASSERT_TRUE(t.Insert(i, L'z'));
  EXPECT_FALSE(t.Insert(0, L'y')) << "full";
}

TEST(SecureRandom, SystemGeneratorAnswersAndRandomBelowCoversItsRange) {
  uint8_t a[16] = {}, b[16] = {};
  ASSERT_TRUE(vd::SystemRandom(a, sizeof a));
  ASSERT_TRUE(vd::SystemRandom(b, sizeof b));
  EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
  int counts[16] = {};
  for (int i = 0; i < 3200; ++i) {
    unsigned v = vd::RandomBelow(16);
    ASSERT_LT(v, 16u);
    ++counts[v];
  }
  for (int c : counts) EXPECT_GT(c, 100) << "far from uniform";  // expected 200 each
  EXPECT_EQ(vd::RandomBelow(1), 0u);
  EXPECT_EQ(vd::RandomBelow(0), 0u);
}

}  // namespace
