#include "cert_objects.h"

#include "handles.h"
#include "text.h"

#include <algorithm>
#include <cstring>

namespace simtoken {
namespace {

// A PEM file is base64 between the BEGIN and END lines; anything else is taken as DER.
std::vector<uint8_t> PemToDer(const std::vector<uint8_t>& bytes) {
  std::string text(bytes.begin(), bytes.end());
  if (text.find("-----BEGIN") == std::string::npos) return bytes;
  DWORD size = 0;
  if (!::CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr))
    return {};
  std::vector<uint8_t> der(size);
  if (!::CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &size, nullptr, nullptr))
    return {};
  der.resize(size);
  return der;
}

std::vector<uint8_t> Sha1(const uint8_t* data, size_t size) {
  std::vector<uint8_t> hash(20);
  DWORD n = 20;
  if (!::CryptHashCertificate(0, CALG_SHA1, 0, data, static_cast<DWORD>(size), hash.data(), &n)) return {};
  hash.resize(n);
  return hash;
}

// CryptoAPI keeps the serial number little-endian without its tag; the token holds the DER INTEGER.
std::vector<uint8_t> SerialDer(const CRYPT_INTEGER_BLOB& serial) {
  std::vector<uint8_t> content(serial.pbData, serial.pbData + serial.cbData);
  std::reverse(content.begin(), content.end());
  std::vector<uint8_t> der{0x02};
  size_t n = content.size();
  if (n < 0x80) {
    der.push_back(static_cast<uint8_t>(n));
  } else {
    std::vector<uint8_t> len;
    for (size_t v = n; v; v >>= 8) len.insert(len.begin(), static_cast<uint8_t>(v));
    der.push_back(static_cast<uint8_t>(0x80 | len.size()));
    der.insert(der.end(), len.begin(), len.end());
  }
  der.insert(der.end(), content.begin(), content.end());
  return der;
}

// Big-endian modulus without leading zero bytes; empty when the key is not RSA.
std::vector<uint8_t> RsaModulus(PCCERT_CONTEXT cert) {
  const CERT_PUBLIC_KEY_INFO& pk = cert->pCertInfo->SubjectPublicKeyInfo;
  DWORD size = 0;
  if (!::CryptDecodeObject(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, pk.PublicKey.pbData, pk.PublicKey.cbData, 0,
                           nullptr, &size) ||
      size < sizeof(PUBLICKEYSTRUC) + sizeof(RSAPUBKEY))
    return {};
  std::vector<uint8_t> blob(size);
  if (!::CryptDecodeObject(X509_ASN_ENCODING, RSA_CSP_PUBLICKEYBLOB, pk.PublicKey.pbData, pk.PublicKey.cbData, 0,
                           blob.data(), &size))
    return {};
  RSAPUBKEY rsa;
  std::memcpy(&rsa, blob.data() + sizeof(PUBLICKEYSTRUC), sizeof rsa);
  size_t offset = sizeof(PUBLICKEYSTRUC) + sizeof(RSAPUBKEY);
  size_t bytes = rsa.bitlen / 8;
  if (rsa.magic != 0x31415352 /* "RSA1" */ || bytes == 0 || bytes > size - offset) return {};
  std::vector<uint8_t> modulus(blob.begin() + offset, blob.begin() + offset + bytes);
  std::reverse(modulus.begin(), modulus.end());
  auto first = std::find_if(modulus.begin(), modulus.end(), [](uint8_t b) { return b != 0; });
  modulus.erase(modulus.begin(), first);
  return modulus;
}

std::string DisplayName(PCCERT_CONTEXT cert) {
  wchar_t name[512];
  DWORD n = ::CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 512);
  return n > 1 ? vd::WideToUtf8(std::wstring_view(name, n - 1)) : std::string();
}

}  // namespace

bool AddCertificate(const CertRequest& req, CK_SLOT_ID slot, Token* token, CK_OBJECT_HANDLE* certHandle,
                    CK_OBJECT_HANDLE* keyHandle, std::string* error) {
  std::vector<uint8_t> value, subject, issuer, serial, modulus;
  std::string label = req.label;
  if (req.raw) {
    value = req.fileBytes;
    if (!req.hasLabel) label = "raw";
  } else {
    value = PemToDer(req.fileBytes);
    vd::UniqueCertContext cert(value.empty() ? nullptr
                                             : ::CertCreateCertificateContext(X509_ASN_ENCODING, value.data(),
                                                                              static_cast<DWORD>(value.size())));
    if (!cert) {
      *error = "not a DER or PEM X.509 certificate (use --raw to store it unparsed)";
      return false;
    }
    const CERT_INFO* info = cert.get()->pCertInfo;
    subject.assign(info->Subject.pbData, info->Subject.pbData + info->Subject.cbData);
    issuer.assign(info->Issuer.pbData, info->Issuer.pbData + info->Issuer.cbData);
    serial = SerialDer(info->SerialNumber);
    modulus = RsaModulus(cert.get());
    if (modulus.empty() && req.key != KeyKind::kNone) {
      *error = "the certificate holds no RSA key (use --key none)";
      return false;
    }
    if (!req.hasLabel) label = DisplayName(cert.get());
  }
  std::vector<uint8_t> id = req.id;
  if (id.empty()) id = modulus.empty() ? Sha1(value.data(), value.size()) : Sha1(modulus.data(), modulus.size());
  if (token->nextObject + 2 > 0xFFFF) {
    *error = "the token is full";
    return false;
  }

  Object cert;
  cert.handle = token->NewHandle(slot);
  std::string container = req.container.empty() ? "cnt-" + std::to_string(cert.handle) : req.container;
  cert.SetUlong(CKA_CLASS, CKO_CERTIFICATE);
  cert.SetUlong(CKA_CERTIFICATE_TYPE, CKC_X_509);
  cert.SetBool(CKA_TOKEN, true);
  cert.Set(CKA_VALUE, value.data(), value.size());
  cert.Set(CKA_ID, id.data(), id.size());
  cert.Set(CKA_LABEL, label.data(), label.size());
  if (!req.raw) {
    cert.Set(CKA_SUBJECT, subject.data(), subject.size());
    cert.Set(CKA_ISSUER, issuer.data(), issuer.size());
    cert.Set(CKA_SERIAL_NUMBER, serial.data(), serial.size());
  }
  // Stored with its terminating NUL: searches send the name that way.
  if (!req.noContainer) cert.Set(CKA_VENDOR_CONTAINER, container.c_str(), container.size() + 1);
  *certHandle = cert.handle;
  *keyHandle = 0;
  token->objects.push_back(std::move(cert));

  if (req.key != KeyKind::kNone) {
    Object key;
    key.handle = token->NewHandle(slot);
    key.SetUlong(CKA_CLASS, CKO_PRIVATE_KEY);
    key.SetUlong(CKA_KEY_TYPE, CKK_RSA);
    key.SetBool(CKA_TOKEN, true);
    key.Set(CKA_ID, id.data(), id.size());
    if (!modulus.empty()) key.Set(CKA_MODULUS, modulus.data(), modulus.size());
    key.SetBool(CKA_ENCRYPT, req.key == KeyKind::kEncrypt);
    key.Set(CKA_VENDOR_CONTAINER, container.c_str(), container.size() + 1);
    *keyHandle = key.handle;
    token->objects.push_back(std::move(key));
  }
  return true;
}

}  // namespace simtoken
