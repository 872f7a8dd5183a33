#include "variants.h"

#include <cstring>

#include "browser_table.h"

namespace np {

void SetInt32(NPVariant* v, int32_t value) {
  v->type = NPVariantType_Int32;
  v->value.intValue = value;
}

bool SetString(NPVariant* v, const char* text, size_t length) {
  if (length > UINT32_MAX) return false;
  char* copy = nullptr;
  if (length > 0) {
    copy = static_cast<char*>(BrowserAlloc(static_cast<uint32_t>(length)));
    if (!copy) return false;
    std::memcpy(copy, text, length);
  }
  v->type = NPVariantType_String;
  v->value.stringValue.UTF8Characters = copy;
  v->value.stringValue.UTF8Length = static_cast<uint32_t>(length);
  return true;
}

bool ReadText(const NPVariant& v, const char** text, uint32_t* length) {
  if (v.type != NPVariantType_String && v.type != NPVariantType_Null) return false;
  if (v.type == NPVariantType_Null || !v.value.stringValue.UTF8Characters) {
    *text = "";
    *length = 0;
    return true;
  }
  *text = v.value.stringValue.UTF8Characters;
  *length = v.value.stringValue.UTF8Length;
  return true;
}

}  // namespace np
