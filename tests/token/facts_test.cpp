// Facts read from certificate values: display names, store choice, key spec and the RSA modulus, including
// values whose DER lengths lie.
#include <gtest/gtest.h>

#include <algorithm>

#include "cert_facts.h"
#include "testsupport.h"

namespace {

std::vector<uint8_t> Cert(const wchar_t* name) {
  std::vector<uint8_t> der = vdtest::ReadFileBytes(vdtest::TestCert(name));
  EXPECT_FALSE(der.empty());
  return der;
}

// Offset of the modulus INTEGER (02 82 01 01 00 ...) of a 2048-bit key inside the certificate.
size_t ModulusTagOffset(const std::vector<uint8_t>& der) {
  const uint8_t pattern[] = {0x02, 0x82, 0x01, 0x01, 0x00};
  auto it = std::search(der.begin(), der.end(), std::begin(pattern), std::end(pattern));
  EXPECT_NE(it, der.end());
  return static_cast<size_t>(it - der.begin());
}

TEST(CertFacts, StoreChosenByContents) {
  struct Row {
    const wchar_t* cert;
    const wchar_t* store;
  } rows[] = {
      {L"root.der", L"ROOT"},         // self-signed, even with CA basic constraints
      {L"inter.der", L"CA"},          // basic constraints CA true
      {L"ku_ca.der", L"CA"},          // no basic constraints, certificate-signing usage
      {L"sign.der", L"ADDRESSBOOK"},  // CA false
      {L"enc.der", L"ADDRESSBOOK"},
      {L"nokey.der", L"ADDRESSBOOK"},  // neither extension
  };
  for (const Row& r : rows) {
    auto store = vd::ChooseStoreByContents(Cert(r.cert));
    ASSERT_TRUE(store.has_value()) << r.cert;
    EXPECT_STREQ(*store, r.store) << r.cert;
  }
  EXPECT_FALSE(vd::ChooseStoreByContents(Cert(L"garbage.der")).has_value());
  EXPECT_FALSE(vd::ChooseStoreByContents({}).has_value());
}

TEST(CertFacts, KeySpecFromKeyUsage) {
  struct Row {
    const wchar_t* cert;
    DWORD keySpec;
  } rows[] = {
      {L"sign.der", AT_SIGNATURE},      // digital signature + non-repudiation
      {L"enc.der", AT_KEYEXCHANGE},     // key + data encipherment
      {L"nokey.der", AT_KEYEXCHANGE},   // no key usage at all
      {L"root.der", AT_KEYEXCHANGE},    // signing of certificates only
  };
  for (const Row& r : rows) {
    auto ctx = vd::DecodeCertificate(Cert(r.cert));
    ASSERT_TRUE(ctx) << r.cert;
    EXPECT_EQ(vd::KeySpecFromKeyUsage(ctx.get()), r.keySpec) << r.cert;
  }
}

TEST(CertFacts, DisplayNameJoinsSubjectAndIssuer) {
  EXPECT_EQ(vd::MakeDisplayName(Cert(L"sign.der")), L"Alice Signer's Opalix Issuing CA ID");
  EXPECT_EQ(vd::MakeDisplayName(Cert(L"garbage.der")), L"");
}

TEST(CertFacts, ModulusWithoutLeadingZero) {
  std::vector<uint8_t> der = Cert(L"sign.der");
  size_t size = 0;
  ASSERT_EQ(vd::ExtractModulus(der, nullptr, &size), CKR_OK);
  EXPECT_EQ(size, 256u);
  auto modulus = vd::ExtractModulus(der);
  ASSERT_TRUE(modulus.has_value());
  size_t at = ModulusTagOffset(der);
  EXPECT_TRUE(std::equal(modulus->begin(), modulus->end(), der.begin() + at + 5));

  uint8_t small[16];
  size = sizeof small;
  EXPECT_EQ(vd::ExtractModulus(der, small, &size), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 256u);
}

TEST(CertFacts, ModulusFromLyingDerFails) {
  struct Row {
    const char* what;
    int offset;  // relative to the modulus INTEGER tag
    uint8_t byte;
    CK_RV want;
  } rows[] = {
      {"integer length runs past the key", 2, 0x7F, CKR_GENERAL_ERROR},
      {"length of five bytes", 1, 0x85, CKR_GENERAL_ERROR},
      {"integer tag replaced", 0, 0x04, CKR_GENERAL_ERROR},
      {"sequence tag replaced", -4, 0x31, CKR_GENERAL_ERROR},
  };
  for (const Row& r : rows) {
    std::vector<uint8_t> der = Cert(L"enc.der");
    der[ModulusTagOffset(der) + r.offset] = r.byte;
    ASSERT_TRUE(vd::DecodeCertificate(der)) << r.what;  // still a certificate; only the key lies
    size_t size = 0;
    EXPECT_EQ(vd::ExtractModulus(der, nullptr, &size), r.want) << r.what;
  }
  size_t size = 0;
  EXPECT_EQ(vd::ExtractModulus(Cert(L"garbage.der"), nullptr, &size), CKR_GENERAL_ERROR);
  EXPECT_EQ(vd::ExtractModulus({}, nullptr, &size), CKR_ARGUMENTS_BAD);
}

}  // namespace
