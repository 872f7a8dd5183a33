// Turns a certificate file into the certificate and private-key objects that a real token would hold.
#pragma once

#include "token_data.h"

#include <string>

namespace simtoken {

enum class KeyKind { kEncrypt, kSign, kNone };

struct CertRequest {
  std::vector<uint8_t> fileBytes;  // DER or PEM
  bool raw = false;                // store the bytes as they are, without parsing
  KeyKind key = KeyKind::kEncrypt;
  std::string container;           // ANSI; empty: "cnt-<certificate handle>"
  // The certificate object without the vendor's container attribute, as generic tools write one; its
  // private key keeps the container.
  bool noContainer = false;
  std::vector<uint8_t> id;         // empty: SHA-1 of the modulus (or of the value when raw)
  std::string label;               // UTF-8; empty: the subject's display name
  bool hasLabel = false;
};

// Adds the objects to `token` (handles drawn from it). False with *error set when the file is no
// certificate, or a key is asked for and the certificate holds no RSA key; the token is then unchanged.
bool AddCertificate(const CertRequest& req, CK_SLOT_ID slot, Token* token, CK_OBJECT_HANDLE* certHandle,
                    CK_OBJECT_HANDLE* keyHandle, std::string* error);

}  // namespace simtoken
