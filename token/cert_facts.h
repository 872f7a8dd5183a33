// Facts read from a certificate's DER value, for naming it and choosing where it is registered.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "handles.h"
#include "pkcs11.h"

namespace vd {

// "<subject>'s <issuer> ID" from the simple display names; empty when the value is not a certificate.
std::wstring MakeDisplayName(const std::vector<uint8_t>& value);
std::wstring MakeDisplayName(PCCERT_CONTEXT cert);

// The RSA modulus of the certificate's public key, without a leading zero byte. With out == null only the
// size is reported in *size; otherwise *size is the buffer's capacity on entry and the length on return.
// CKR_ARGUMENTS_BAD for no value, CKR_GENERAL_ERROR for a value that does not decode or DER that is not an
// RSA key (wrong tag, a length running past the end), CKR_BUFFER_TOO_SMALL for a short buffer.
CK_RV ExtractModulus(const std::vector<uint8_t>& value, uint8_t* out, size_t* size);
std::optional<std::vector<uint8_t>> ExtractModulus(const std::vector<uint8_t>& value);
// The same of a certificate decoded already (registration decodes each value once).
std::optional<std::vector<uint8_t>> ExtractModulus(PCCERT_CONTEXT cert);

// ROOT for a self-signed certificate, CA for a CA by basic constraints or signing key usage, else
// ADDRESSBOOK; nothing when the value does not decode.
std::optional<const wchar_t*> ChooseStoreByContents(const std::vector<uint8_t>& value);
const wchar_t* ChooseStoreForCertificate(const CERT_CONTEXT& cert);

// The key spec a certificate's intended key usage implies: encipherment gives AT_KEYEXCHANGE, signature
// only AT_SIGNATURE, no usage AT_KEYEXCHANGE.
DWORD KeySpecFromKeyUsage(PCCERT_CONTEXT cert);

UniqueCertContext DecodeCertificate(const std::vector<uint8_t>& value);

}  // namespace vd
