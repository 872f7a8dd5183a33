#include "token_keys.h"

#include <cstring>

#include "object_reading.h"
#include "pkcs11_session.h"
#include "text.h"

namespace vd {
namespace {

// A token holds a handful of keys; a search that never runs dry is a broken module.
constexpr size_t kMaxKeys = 4096;

const std::vector<AttributeRequest> kKeyAttributes = {
    {CKA_KEY_TYPE, sizeof(CK_KEY_TYPE)},
    {CKA_ID, 64},
    {CKA_VENDOR_CONTAINER, 256},
    {CKA_MODULUS, 512},  // a 4096-bit key
    {CKA_ENCRYPT, sizeof(CK_BBOOL)},
};

}  // namespace

std::vector<uint8_t> ContainerBytes(const std::wstring& container) {
  std::string a = WideToAnsi(container);
  std::vector<uint8_t> v(a.begin(), a.end());
  v.push_back('\0');
  return v;
}

TokenKeys TokenKeys::Read(CK_FUNCTION_LIST* fl, CK_SLOT_ID slot) {
  TokenKeys keys;
  Pkcs11Session session;
  keys.readResult_ = session.Open(fl, slot);
  if (keys.readResult_ != CKR_OK) return keys;
  keys = Read(fl, slot, session.get());
  session.Close();
  return keys;
}

TokenKeys TokenKeys::Read(CK_FUNCTION_LIST* fl, CK_SLOT_ID, CK_SESSION_HANDLE session) {
  TokenKeys keys;
  if (!fl) return keys;
  CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
  CK_ATTRIBUTE tmpl = {CKA_CLASS, &cls, sizeof cls};
  CK_RV readRv = CKR_OK;
  CK_RV rv = ForEachObject(fl, session, &tmpl, 1, [&](CK_OBJECT_HANDLE h) {
    if (keys.keys_.size() >= kMaxKeys) return false;
    std::vector<AttributeValue> v;
    readRv = ReadObjectAttributes(fl, session, h, kKeyAttributes, true, &v);
    if (readRv != CKR_OK) return false;
    keys.AddKey(v[0], v[1], v[2], v[3], v[4]);
    return true;
  });
  keys.Finish(readRv != CKR_OK ? readRv : rv);
  return keys;
}

void TokenKeys::AddKey(const AttributeValue& type, const AttributeValue& id, const AttributeValue& container,
                       const AttributeValue& modulus, const AttributeValue& encrypt) {
  if (keys_.size() >= kMaxKeys) return;
  Key k;
  if (type.present && type.bytes.size() == sizeof(CK_KEY_TYPE)) {
    k.hasType = true;
    std::memcpy(&k.type, type.bytes.data(), sizeof k.type);
  }
  k.hasId = id.present;
  k.id = id.bytes;
  k.hasContainer = container.present;
  k.container = container.bytes;
  k.hasModulus = modulus.present;
  k.modulus = modulus.bytes;
  if (encrypt.present && encrypt.bytes.size() == sizeof(CK_BBOOL)) {
    k.hasEncrypt = true;
    k.encrypt = encrypt.bytes[0];
  }
  keys_.push_back(std::move(k));
}

void TokenKeys::Finish(CK_RV readResult) {
  readResult_ = readResult;
  if (readResult_ != CKR_OK) keys_.clear();
}

bool TokenKeys::KeyIsOnToken(const std::wstring& container, const std::vector<uint8_t>& modulus) const {
  if (readResult_ != CKR_OK || modulus.empty()) return false;
  const std::vector<uint8_t> name = ContainerBytes(container);
  for (const Key& k : keys_)
    if (k.hasContainer && k.container == name && k.hasModulus && k.modulus == modulus) return true;
  return false;
}

CK_RV TokenKeys::FindKeySpec(const std::vector<uint8_t>& id, const std::wstring& container, DWORD* keySpec) const {
  if (readResult_ != CKR_OK) return readResult_;
  const std::vector<uint8_t> name = ContainerBytes(container);
  for (const Key& k : keys_) {
    if (!k.hasType || k.type != CKK_RSA || !k.hasId || k.id != id || !k.hasContainer || k.container != name) continue;
    if (!k.hasEncrypt) return CKR_ATTRIBUTE_VALUE_INVALID;
    *keySpec = k.encrypt ? AT_KEYEXCHANGE : AT_SIGNATURE;
    return CKR_OK;
  }
  return CKR_TEMPLATE_INCONSISTENT;
}

std::wstring TokenKeys::ContainerForId(const std::vector<uint8_t>& id) const {
  if (readResult_ != CKR_OK || id.empty()) return {};
  for (const Key& k : keys_)
    if (k.hasId && k.id == id && k.hasContainer)
      return AnsiToWide(FixedField(k.container.data(), k.container.size()));
  return {};
}

}  // namespace vd
