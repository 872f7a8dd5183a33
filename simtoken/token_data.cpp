#include "token_data.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace simtoken {
namespace {

constexpr char kMagic[8] = {'S', 'I', 'M', 'T', 'O', 'K', '0', '3'};
// The previous format: the same fields, but the user PIN as its bytes.
constexpr char kPreviousMagic[8] = {'S', 'I', 'M', 'T', 'O', 'K', '0', '2'};
// Far above anything a test makes; a length beyond it means the file is damaged, not that it is big.
constexpr uint32_t kMaxValue = 1u << 24;
constexpr uint32_t kMaxCount = 1u << 16;

uint32_t Fnv1a(const uint8_t* p, size_t n) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

class Writer {
 public:
  void U8(uint8_t v) { out_.push_back(v); }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void Raw(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }
  void Bytes(const void* p, size_t n) {
    U32(static_cast<uint32_t>(n));
    Raw(p, n);
  }
  std::vector<uint8_t>& out() { return out_; }

 private:
  std::vector<uint8_t> out_;
};

// Every read checks the remaining length first; after the first failure all reads fail.
class Reader {
 public:
  Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  bool ok() const { return ok_; }
  bool done() const { return ok_ && pos_ == n_; }
  uint8_t U8() {
    uint8_t v = 0;
    Raw(&v, 1);
    return v;
  }
  uint32_t U32() {
    uint8_t b[4] = {};
    Raw(b, 4);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
  }
  void Raw(void* dst, size_t n) {
    if (!ok_ || n > n_ - pos_) {
      ok_ = false;
      return;
    }
    std::memcpy(dst, p_ + pos_, n);
    pos_ += n;
  }
  // Steps over n bytes in place; null (and failed) when fewer remain.
  const uint8_t* Skip(uint32_t n) {
    if (!ok_ || n > kMaxValue || n > n_ - pos_) {
      ok_ = false;
      return nullptr;
    }
    const uint8_t* at = p_ + pos_;
    pos_ += n;
    return at;
  }
  template <typename Container>
  void Bytes(Container* dst) {
    uint32_t n = U32();
    if (!ok_ || n > kMaxValue || n > n_ - pos_) {
      ok_ = false;
      return;
    }
    dst->assign(p_ + pos_, p_ + pos_ + n);
    pos_ += n;
  }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace

const Attribute* Object::Find(CK_ATTRIBUTE_TYPE type) const {
  for (const Attribute& a : attributes)
    if (a.type == type) return &a;
  return nullptr;
}

void Object::Set(CK_ATTRIBUTE_TYPE type, const void* data, size_t size) {
  const uint8_t* b = static_cast<const uint8_t*>(data);
  for (Attribute& a : attributes) {
    if (a.type == type) {
      a.value.assign(b, b + size);
      return;
    }
  }
  attributes.push_back(Attribute{type, std::vector<uint8_t>(b, b + size)});
}

bool Object::Matches(const CK_ATTRIBUTE* tmpl, CK_ULONG count) const {
  for (CK_ULONG i = 0; i < count; ++i) {
    const Attribute* a = Find(tmpl[i].type);
    if (!a || a->value.size() != tmpl[i].ulValueLen) return false;
    if (!a->value.empty() && std::memcmp(a->value.data(), tmpl[i].pValue, a->value.size()) != 0) return false;
  }
  return true;
}

Token::Token() {
  FillField(label, sizeof label, "Opalix Token");
  FillField(manufacturer, sizeof manufacturer, "Kestrova");
  FillField(model, sizeof model, "Brindlemark");
  FillField(serial, sizeof serial, "");
}

void Token::FillField(uint8_t* field, size_t size, std::string_view text) {
  std::memset(field, ' ', size);
  std::memcpy(field, text.data(), std::min(size, text.size()));
}

Object* Token::FindObject(CK_OBJECT_HANDLE handle) {
  for (Object& o : objects)
    if (o.handle == handle) return &o;
  return nullptr;
}

const Object* Token::FindObject(CK_OBJECT_HANDLE handle) const {
  for (const Object& o : objects)
    if (o.handle == handle) return &o;
  return nullptr;
}

bool Token::RemoveObject(CK_OBJECT_HANDLE handle) {
  auto it = std::find_if(objects.begin(), objects.end(), [&](const Object& o) { return o.handle == handle; });
  if (it == objects.end()) return false;
  objects.erase(it);
  return true;
}

std::vector<uint8_t> EncodeToken(const Token& t) {
  Writer body;
  body.U8(t.present ? 1 : 0);
  body.Raw(t.label, sizeof t.label);
  body.Raw(t.manufacturer, sizeof t.manufacturer);
  body.Raw(t.model, sizeof t.model);
  body.Raw(t.serial, sizeof t.serial);
  body.U32(static_cast<uint32_t>(t.flags));
  body.U32(t.minPin);
  body.U32(t.maxPin);
  body.U8(t.userPin.set ? 1 : 0);
  body.Raw(t.userPin.salt, sizeof t.userPin.salt);
  body.Raw(t.userPin.digest, sizeof t.userPin.digest);
  body.U32(t.maxTries);
  body.U32(t.triesLeft);
  body.U8(t.hardware.major);
  body.U8(t.hardware.minor);
  body.U8(t.firmware.major);
  body.U8(t.firmware.minor);
  body.U32(t.totalPublicMemory);
  body.U32(t.totalPrivateMemory);
  body.U32(t.nextObject);
  body.U32(t.insertions);
  body.U32(static_cast<uint32_t>(t.objects.size()));
  for (const Object& o : t.objects) {
    body.U32(static_cast<uint32_t>(o.handle));
    body.U32(static_cast<uint32_t>(o.attributes.size()));
    for (const Attribute& a : o.attributes) {
      body.U32(static_cast<uint32_t>(a.type));
      body.Bytes(a.value.data(), a.value.size());
    }
  }
  Writer file;
  file.Raw(kMagic, sizeof kMagic);
  file.Bytes(body.out().data(), body.out().size());
  file.U32(Fnv1a(body.out().data(), body.out().size()));
  return std::move(file.out());
}

std::optional<Token> DecodeToken(const uint8_t* data, size_t size, bool* previousFormat) {
  if (!data || size < sizeof kMagic + 8) return std::nullopt;
  bool previous = std::memcmp(data, kPreviousMagic, sizeof kPreviousMagic) == 0;
  if (!previous && std::memcmp(data, kMagic, sizeof kMagic) != 0) return std::nullopt;
  if (previousFormat) *previousFormat = previous;
  Reader file(data + sizeof kMagic, size - sizeof kMagic);
  std::vector<uint8_t> bodyBytes;
  file.Bytes(&bodyBytes);
  // The previous format's body holds a plain PIN: this copy is wiped whatever the outcome.
  struct Wipe {
    std::vector<uint8_t>& v;
    ~Wipe() { ::SecureZeroMemory(v.data(), v.size()); }
  } wipeBody{bodyBytes};
  uint32_t sum = file.U32();
  if (!file.done() || sum != Fnv1a(bodyBytes.data(), bodyBytes.size())) return std::nullopt;

  Reader r(bodyBytes.data(), bodyBytes.size());
  Token t;
  t.present = r.U8() != 0;
  r.Raw(t.label, sizeof t.label);
  r.Raw(t.manufacturer, sizeof t.manufacturer);
  r.Raw(t.model, sizeof t.model);
  r.Raw(t.serial, sizeof t.serial);
  t.flags = r.U32();
  t.minPin = r.U32();
  t.maxPin = r.U32();
  if (previous) {
    uint32_t n = r.U32();
    const uint8_t* pin = r.Skip(n);
    if (pin) t.userPin.Set(pin, n);
  } else {
    uint8_t set = r.U8();
    r.Raw(t.userPin.salt, sizeof t.userPin.salt);
    r.Raw(t.userPin.digest, sizeof t.userPin.digest);
    if (set > 1) return std::nullopt;
    t.userPin.set = set == 1;
  }
  t.maxTries = r.U32();
  t.triesLeft = r.U32();
  t.hardware.major = r.U8();
  t.hardware.minor = r.U8();
  t.firmware.major = r.U8();
  t.firmware.minor = r.U8();
  t.totalPublicMemory = r.U32();
  t.totalPrivateMemory = r.U32();
  t.nextObject = r.U32();
  t.insertions = r.U32();
  uint32_t objects = r.U32();
  if (!r.ok() || objects > kMaxCount) return std::nullopt;
  t.objects.resize(objects);
  for (Object& o : t.objects) {
    o.handle = r.U32();
    uint32_t attrs = r.U32();
    if (!r.ok() || attrs > kMaxCount) return std::nullopt;
    o.attributes.resize(attrs);
    for (Attribute& a : o.attributes) {
      a.type = r.U32();
      r.Bytes(&a.value);
    }
  }
  if (!r.done()) return std::nullopt;
  return t;
}

}  // namespace simtoken
