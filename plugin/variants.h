// How handlers read script arguments and write results.
#pragma once

#include <cstddef>
#include <cstdint>

#include "npapi.h"

namespace np {

void SetInt32(NPVariant* v, int32_t value);
// Copies `length` bytes into browser memory of exactly that length; false when the browser gives none.
bool SetString(NPVariant* v, const char* text, size_t length);

// A text argument: a string, or null read as the empty text. False for every other type.
bool ReadText(const NPVariant& v, const char** text, uint32_t* length);

}  // namespace np
