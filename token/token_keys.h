// The private keys of one token, read once per token operation and matched in memory, byte for byte as
// the module's own search would match them: whether a certificate's key is on the token (its container
// and RSA modulus) and which key spec that key has (its id and container, then CKA_ENCRYPT).
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <string>
#include <vector>

#include "object_reading.h"
#include "pkcs11.h"

namespace vd {

class TokenKeys {
 public:
  // Reads every private key of the token in an open session. A read that fails leaves the set failed, and
  // every question answers as the failed search it replaces did.
  static TokenKeys Read(CK_FUNCTION_LIST* fl, CK_SLOT_ID slot, CK_SESSION_HANDLE session);
  // The same in a session of its own, opened and closed here.
  static TokenKeys Read(CK_FUNCTION_LIST* fl, CK_SLOT_ID slot);

  // For a reader that meets the keys among the token's other objects: each key's attributes as read
  // (CKA_KEY_TYPE, CKA_ID, the container, CKA_MODULUS, CKA_ENCRYPT), then the outcome of the whole read.
  void AddKey(const AttributeValue& type, const AttributeValue& id, const AttributeValue& container,
              const AttributeValue& modulus, const AttributeValue& encrypt);
  void Finish(CK_RV readResult);

  CK_RV ReadResult() const { return readResult_; }
  size_t Count() const { return keys_.size(); }

  // True when some private key holds this container and this modulus.
  bool KeyIsOnToken(const std::wstring& container, const std::vector<uint8_t>& modulus) const;
  // The key spec of the first RSA private key with this id and container: AT_KEYEXCHANGE when it may
  // encrypt, else AT_SIGNATURE. Fails when the set could not be read, no key matches, or the first match
  // has no readable CKA_ENCRYPT.
  CK_RV FindKeySpec(const std::vector<uint8_t>& id, const std::wstring& container, DWORD* keySpec) const;
  // The container of the first private key with this id, for a certificate that names none (generic tools
  // write certificates without the vendor attribute); empty when no key has the id.
  std::wstring ContainerForId(const std::vector<uint8_t>& id) const;

 private:
  struct Key {
    bool hasType = false, hasId = false, hasContainer = false, hasModulus = false, hasEncrypt = false;
    CK_KEY_TYPE type = 0;
    std::vector<uint8_t> id, container, modulus;
    CK_BBOOL encrypt = CK_FALSE;
  };

  CK_RV readResult_ = CKR_GENERAL_ERROR;
  std::vector<Key> keys_;
};

// A container name as the token stores it and searches send it: ANSI with its terminating NUL.
std::vector<uint8_t> ContainerBytes(const std::wstring& container);

}  // namespace vd
