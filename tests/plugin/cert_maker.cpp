#include "cert_maker.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>

namespace plugintest {
namespace {

std::vector<uint8_t> Encode(LPCSTR type, const void* what) {
  BYTE* out = nullptr;
  DWORD size = 0;
  if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, type, what, CRYPT_ENCODE_ALLOC_FLAG, nullptr, &out, &size))
    return {};
  std::vector<uint8_t> bytes(out, out + size);
  ::LocalFree(out);
  return bytes;
}

std::vector<uint8_t> EncodeName(const std::string& cn) {
  CERT_RDN_ATTR attr{};
  attr.pszObjId = const_cast<char*>(szOID_COMMON_NAME);
  attr.dwValueType = CERT_RDN_PRINTABLE_STRING;
  attr.Value.cbData = static_cast<DWORD>(cn.size());
  attr.Value.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(cn.data()));
  CERT_RDN rdn{1, &attr};
  CERT_NAME_INFO name{1, &rdn};
  return Encode(X509_NAME, &name);
}

}  // namespace

std::vector<uint8_t> MakeCertificate(const std::string& commonName, const std::vector<uint8_t>& serialMsbFirst) {
  std::vector<uint8_t> subject = EncodeName(commonName);
  std::vector<uint8_t> issuer = EncodeName("Opalix Made Up CA");
  std::vector<uint8_t> serial(serialMsbFirst.rbegin(), serialMsbFirst.rend());
  BYTE key[64];
  std::fill(std::begin(key), std::end(key), BYTE{0x5A});

  CERT_INFO info{};
  info.dwVersion = CERT_V1;
  info.SerialNumber = {static_cast<DWORD>(serial.size()), serial.data()};
  info.SignatureAlgorithm.pszObjId = const_cast<char*>(szOID_RSA_SHA256RSA);
  info.Issuer = {static_cast<DWORD>(issuer.size()), issuer.data()};
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  ::SystemTimeToFileTime(&now, &info.NotBefore);
  now.wYear = static_cast<WORD>(now.wYear + 2);
  now.wDay = 1;
  ::SystemTimeToFileTime(&now, &info.NotAfter);
  info.Subject = {static_cast<DWORD>(subject.size()), subject.data()};
  info.SubjectPublicKeyInfo.Algorithm.pszObjId = const_cast<char*>(szOID_RSA_RSA);
  info.SubjectPublicKeyInfo.PublicKey = {sizeof key, key, 0};
  std::vector<uint8_t> tbs = Encode(X509_CERT_TO_BE_SIGNED, &info);
  if (tbs.empty() || subject.empty() || issuer.empty()) return {};

  BYTE signature[32] = {};
  CERT_SIGNED_CONTENT_INFO signed_{};
  signed_.ToBeSigned = {static_cast<DWORD>(tbs.size()), tbs.data()};
  signed_.SignatureAlgorithm.pszObjId = const_cast<char*>(szOID_RSA_SHA256RSA);
  signed_.Signature = {sizeof signature, signature, 0};
  return Encode(X509_CERT, &signed_);
}

}  // namespace plugintest
