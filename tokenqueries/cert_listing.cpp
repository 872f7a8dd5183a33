// The certificate listing behind "GetAllCertCn" and "GetSN": read every certificate object of the one
// token present, decode it with CryptoAPI and turn it into an entry text.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>

#include "pkcs11_session.h"
#include "token_queries.h"

namespace tq {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// Certificate values used to be read into 8192 bytes; larger ones are decoded whole now. Only a length no
// certificate has is refused, so a module reporting nonsense cannot make us allocate gigabytes.
constexpr CK_ULONG kMaxCertValue = 1u << 20;

std::string DisplayName(PCCERT_CONTEXT cert) {
  DWORD n = ::CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (n == 0) return {};
  std::string name(n + 1, '\0');
  ::CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), n + 1);
  name.resize(std::strlen(name.c_str()));
  return name;
}

// CryptoAPI holds the serial least significant byte first; the page gets it most significant first, two
// lower-case digits per byte, leading zero bytes kept.
std::string SerialHex(PCCERT_CONTEXT cert) {
  const CRYPT_INTEGER_BLOB& sn = cert->pCertInfo->SerialNumber;
  std::string hex;
  hex.reserve(sn.cbData * 2);
  for (DWORD i = sn.cbData; i > 0; --i) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", sn.pbData[i - 1]);
    hex.append(two, 2);
  }
  return hex;
}

}  // namespace

void CutEntry(std::string& entry, size_t maxChars) {
  if (entry.size() <= maxChars) return;
  size_t end = 0;
  while (end < maxChars) {
    size_t step = ::IsDBCSLeadByte(static_cast<BYTE>(entry[end])) ? 2 : 1;
    if (end + step > maxChars) break;
    end += step;
  }
  entry.resize(end);
}

int JoinEntries(const std::vector<std::string>& entries, char* out, size_t outSize) {
  if (!out || outSize == 0) return 0;
  size_t used = 0;
  int joined = 0;
  for (const std::string& e : entries) {
    size_t need = e.size() + (joined > 0 ? 1 : 0);
    if (used + need > outSize - 1) break;
    if (joined > 0) out[used++] = ',';
    std::memcpy(out + used, e.data(), e.size());
    used += e.size();
    ++joined;
  }
  out[used] = '\0';
  return joined;
}

bool TokenQueries::ListCertificates(EntryKind kind, std::vector<std::string>& entries) {
  entries.clear();
  if (GetKeyCount() != 1) return false;
  vd::Pkcs11Session session;
  if (session.Open(fl(), slots_[0]) != CKR_OK) return true;

  CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
  CK_BBOOL onToken = CK_TRUE;
  CK_ATTRIBUTE tmpl[] = {
      {CKA_CLASS, &certClass, sizeof certClass},
      {CKA_TOKEN, &onToken, sizeof onToken},
  };
  // A refused search start lists nothing: Next answers "not initialised" at once.
  vd::Pkcs11Search search(fl(), session.get(), tmpl, 2);

  for (;;) {
    CK_OBJECT_HANDLE object = 0;
    CK_ULONG found = 0;
    if (search.Next(&object, 1, &found) != CKR_OK || found != 1) break;

    CK_ATTRIBUTE value = {CKA_VALUE, nullptr, 0};
    if (fl()->C_GetAttributeValue(session.get(), object, &value, 1) != CKR_OK) break;
    const CK_ULONG length = value.ulValueLen;
    if (length == CK_UNAVAILABLE_INFORMATION || length > kMaxCertValue) break;
    std::vector<BYTE> der(length ? length : 1, 0);
    value.pValue = der.data();
    if (fl()->C_GetAttributeValue(session.get(), object, &value, 1) != CKR_OK) break;
    // The second answer may only shrink the value, never claim more than the buffer holds.
    const DWORD used = static_cast<DWORD>(value.ulValueLen <= length ? value.ulValueLen : length);

    vd::UniqueCertContext cert(::CertCreateCertificateContext(kEncoding, der.data(), used));
    if (!cert) {
      entries.clear();
      return false;
    }
    std::string entry = kind == EntryKind::kDisplayName ? DisplayName(cert.get()) : SerialHex(cert.get());
    // A serial is cut at a whole byte so that the page never sees half of one.
    CutEntry(entry, kind == EntryKind::kSerialNumber ? (kEntrySize - 1) & ~size_t{1} : kEntrySize - 1);
    entries.push_back(std::move(entry));
  }
  return true;
}

}  // namespace tq
