// The content of one simulated token and its file encoding. Both the module and tokenctl work on this
// model; the module keeps a copy in memory only as long as no other writer has saved a newer one.
#pragma once

#include "pin_record.h"
#include "pkcs11.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simtoken {

constexpr CK_SLOT_ID kFirstSlot = 1;
constexpr CK_SLOT_ID kLastSlot = 12;
inline bool IsSlotId(CK_SLOT_ID slot) { return slot >= kFirstSlot && slot <= kLastSlot; }

struct Attribute {
  CK_ATTRIBUTE_TYPE type = 0;
  std::vector<uint8_t> value;
};

struct Object {
  CK_OBJECT_HANDLE handle = 0;
  std::vector<Attribute> attributes;

  const Attribute* Find(CK_ATTRIBUTE_TYPE type) const;
  void Set(CK_ATTRIBUTE_TYPE type, const void* data, size_t size);
  void SetUlong(CK_ATTRIBUTE_TYPE type, CK_ULONG v) { Set(type, &v, sizeof v); }
  void SetBool(CK_ATTRIBUTE_TYPE type, bool v) {
    CK_BBOOL b = v ? CK_TRUE : CK_FALSE;
    Set(type, &b, 1);
  }
  // True when every attribute of the template is present with exactly the same bytes.
  bool Matches(const CK_ATTRIBUTE* tmpl, CK_ULONG count) const;
};

struct Token {
  bool present = true;
  uint8_t label[32];         // UTF-8, blank-padded
  uint8_t manufacturer[32];  // blank-padded
  uint8_t model[16];
  uint8_t serial[16];
  CK_FLAGS flags = CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED;
  uint32_t minPin = 6;
  uint32_t maxPin = 12;
  PinRecord userPin;  // none until tokenctl or the initialisation entry sets one
  uint32_t maxTries = 6;
  uint32_t triesLeft = 6;
  CK_VERSION hardware{1, 0};
  CK_VERSION firmware{1, 0};
  uint32_t totalPublicMemory = 65536;
  uint32_t totalPrivateMemory = 32768;
  uint32_t nextObject = 1;  // low half of the next object handle
  uint32_t insertions = 0;  // counts absent-to-present changes: a session belongs to one insertion
  std::vector<Object> objects;

  Token();
  void SetLabel(std::string_view utf8) { FillField(label, sizeof label, utf8); }
  void SetModel(std::string_view s) { FillField(model, sizeof model, s); }
  void SetSerial(std::string_view s) { FillField(serial, sizeof serial, s); }
  Object* FindObject(CK_OBJECT_HANDLE handle);
  const Object* FindObject(CK_OBJECT_HANDLE handle) const;
  bool RemoveObject(CK_OBJECT_HANDLE handle);
  // Handles carry the slot in their high half, so they are unique across slots and stay stable for the
  // life of the token, whichever process reads them.
  CK_OBJECT_HANDLE NewHandle(CK_SLOT_ID slot) { return static_cast<CK_OBJECT_HANDLE>((slot << 16) | nextObject++); }

  static void FillField(uint8_t* field, size_t size, std::string_view text);
};

std::vector<uint8_t> EncodeToken(const Token& token);
// Empty when the bytes are not a complete, intact token file. Files of the previous format, which kept the
// user PIN itself, are read too (*previousFormat set): the PIN is hashed on the way in.
std::optional<Token> DecodeToken(const uint8_t* data, size_t size, bool* previousFormat = nullptr);

}  // namespace simtoken
