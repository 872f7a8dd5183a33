#include "cert_facts.h"

#include <cstring>

namespace vd {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::wstring SimpleName(PCCERT_CONTEXT cert, DWORD flags) {
  DWORD n = ::CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, nullptr, 0);
  if (n <= 1) return {};
  std::wstring s(n, L'\0');
  n = ::CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, s.data(), n);
  s.resize(n > 0 ? n - 1 : 0);
  return s;
}

// Reads a DER length at p[pos] (the byte after a tag); false when it is malformed or runs past `size`.
bool ReadDerLength(const uint8_t* p, size_t size, size_t* pos, size_t* length) {
  if (*pos >= size) return false;
  uint8_t first = p[(*pos)++];
  if (first < 0x80) {
    *length = first;
  } else {
    size_t count = first & 0x7F;
    if (count == 0 || count > 4 || count > size - *pos) return false;
    size_t v = 0;
    for (size_t i = 0; i < count; ++i) v = (v << 8) | p[(*pos)++];
    *length = v;
  }
  return *length <= size - *pos;
}

}  // namespace

UniqueCertContext DecodeCertificate(const std::vector<uint8_t>& value) {
  if (value.empty()) return UniqueCertContext();
  return UniqueCertContext(
      ::CertCreateCertificateContext(kEncoding, value.data(), static_cast<DWORD>(value.size())));
}

std::wstring MakeDisplayName(const std::vector<uint8_t>& value) {
  auto cert = DecodeCertificate(value);
  if (!cert) return {};
  return MakeDisplayName(cert.get());
}

std::wstring MakeDisplayName(PCCERT_CONTEXT cert) {
  return SimpleName(cert, 0) + L"'s " + SimpleName(cert, CERT_NAME_ISSUER_FLAG) + L" ID";
}

// The modulus's place in the certificate's public key: *pos and *length, or false for DER that is not an
// RSA key.
static bool LocateModulus(PCCERT_CONTEXT cert, const uint8_t** p, size_t* pos, size_t* length) {
  // RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }. The lengths come from the
  // token, so each one is checked against what is really there.
  const CRYPT_BIT_BLOB& key = cert->pCertInfo->SubjectPublicKeyInfo.PublicKey;
  *p = key.pbData;
  const size_t n = key.cbData;
  *pos = 0;
  if (!*p || n < 2 || (*p)[(*pos)++] != 0x30) return false;
  if (!ReadDerLength(*p, n, pos, length)) return false;
  if (*pos >= n || (*p)[(*pos)++] != 0x02) return false;
  if (!ReadDerLength(*p, n, pos, length)) return false;
  if (*length > 0 && (*p)[*pos] == 0x00) {
    ++*pos;
    --*length;
  }
  return true;
}

CK_RV ExtractModulus(const std::vector<uint8_t>& value, uint8_t* out, size_t* size) {
  if (value.empty() || !size) return CKR_ARGUMENTS_BAD;
  auto cert = DecodeCertificate(value);
  if (!cert) return CKR_GENERAL_ERROR;
  const uint8_t* p = nullptr;
  size_t pos = 0, length = 0;
  if (!LocateModulus(cert.get(), &p, &pos, &length)) return CKR_GENERAL_ERROR;
  if (!out) {
    *size = length;
    return CKR_OK;
  }
  if (*size < length) {
    *size = length;
    return CKR_BUFFER_TOO_SMALL;
  }
  if (length > 0) std::memcpy(out, p + pos, length);
  *size = length;
  return CKR_OK;
}

std::optional<std::vector<uint8_t>> ExtractModulus(PCCERT_CONTEXT cert) {
  const uint8_t* p = nullptr;
  size_t pos = 0, length = 0;
  if (!cert || !LocateModulus(cert, &p, &pos, &length)) return std::nullopt;
  return std::vector<uint8_t>(p + pos, p + pos + length);
}

std::optional<std::vector<uint8_t>> ExtractModulus(const std::vector<uint8_t>& value) {
  size_t size = 0;
  if (ExtractModulus(value, nullptr, &size) != CKR_OK) return std::nullopt;
  std::vector<uint8_t> modulus(size);
  if (ExtractModulus(value, modulus.data(), &size) != CKR_OK) return std::nullopt;
  modulus.resize(size);
  return modulus;
}

std::optional<const wchar_t*> ChooseStoreByContents(const std::vector<uint8_t>& value) {
  auto cert = DecodeCertificate(value);
  if (!cert) return std::nullopt;
  return ChooseStoreForCertificate(*cert.get());
}

const wchar_t* ChooseStoreForCertificate(const CERT_CONTEXT& cert) {
  const CERT_CONTEXT* c = &cert;
  PCERT_INFO info = c->pCertInfo;
  if (::CryptVerifyCertificateSignature(0, X509_ASN_ENCODING, c->pbCertEncoded, c->cbCertEncoded,
                                        &info->SubjectPublicKeyInfo))
    return L"ROOT";

  bool decodedNotCa = false, isCa = false;
  if (PCERT_EXTENSION ext = ::CertFindExtension(szOID_BASIC_CONSTRAINTS2, info->cExtension, info->rgExtension)) {
    CERT_BASIC_CONSTRAINTS2_INFO bc{};
    DWORD size = sizeof bc;
    if (::CryptDecodeObject(X509_ASN_ENCODING, X509_BASIC_CONSTRAINTS2, ext->Value.pbData, ext->Value.cbData, 0,
                            &bc, &size)) {
      isCa = bc.fCA != FALSE;
      decodedNotCa = !isCa;
    }
  }
  BYTE usage = 0;
  bool signs = ::CertGetIntendedKeyUsage(X509_ASN_ENCODING, info, &usage, 1) &&
               (usage & (CERT_KEY_CERT_SIGN_KEY_USAGE | CERT_CRL_SIGN_KEY_USAGE)) != 0;
  if (decodedNotCa || (!isCa && !signs)) return L"ADDRESSBOOK";
  return L"CA";
}

DWORD KeySpecFromKeyUsage(PCCERT_CONTEXT cert) {
  BYTE usage = 0;
  if (!cert || !::CertGetIntendedKeyUsage(X509_ASN_ENCODING, cert->pCertInfo, &usage, 1)) return AT_KEYEXCHANGE;
  if (usage & (CERT_KEY_ENCIPHERMENT_KEY_USAGE | CERT_DATA_ENCIPHERMENT_KEY_USAGE)) return AT_KEYEXCHANGE;
  if (usage & (CERT_DIGITAL_SIGNATURE_KEY_USAGE | CERT_NON_REPUDIATION_KEY_USAGE)) return AT_SIGNATURE;
  return AT_KEYEXCHANGE;
}

}  // namespace vd
