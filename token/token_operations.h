// The token-side work behind the window's rename and device-information commands. Each call opens what it
// needs of the module itself and never logs in; none shows a window: the callers turn results into texts.
#pragma once

#include <string>

#include "pkcs11.h"

namespace vd {

// A label holds 32 bytes on the token; the rename dialog keeps names below that, so that a written label
// always ends with a blank.
constexpr size_t kTokenLabelBytes = 32;
constexpr size_t kTokenNameMaxBytes = kTokenLabelBytes - 1;

// What the device-information dialog shows of the selected token. Everything is empty or 0 when no token
// is present or a call fails.
struct TokenFacts {
  std::wstring model;   // CK_TOKEN_INFO.model, one character per byte, trailing blanks removed
  std::wstring serial;  // CK_TOKEN_INFO.serialNumber as stored, one character per byte
  int tokenCount = 0;   // tokens present; 0 means none
  int wrongTries = 0;   // user-PIN tries already spent
  int triesLeft = 0;    // user-PIN tries left
  // How reading the tries went: no tries left means a blocked PIN only when this is CKR_OK.
  // CKR_FUNCTION_NOT_SUPPORTED when the module has no PIN information entry.
  CK_RV pinInfoResult = CKR_OK;
};

// The facts of `slot`, given how many tokens the window lists. With tokenCount <= 0 nothing is read.
TokenFacts ReadTokenFacts(CK_FUNCTION_LIST* fl, AuxFunctionList* aux, CK_SLOT_ID slot, int tokenCount);

// Writes `name` as the token's label through the vendor's label entry: its UTF-8 form, cut at a whole
// character to at most 32 bytes, padded with blanks to 32. The entry's result, or
// CKR_FUNCTION_NOT_SUPPORTED when the module has no such entry (nothing was written).
CK_RV WriteTokenLabel(AuxFunctionList* aux, CK_SLOT_ID slot, const std::wstring& name);

// The token's label as UTF-8, trailing blanks (and anything from a NUL on) dropped.
CK_RV ReadTokenLabel(CK_FUNCTION_LIST* fl, CK_SLOT_ID slot, std::string* utf8);

// The longest start of `utf8` of at most maxBytes bytes that does not end inside a multi-byte character.
std::string_view Utf8Prefix(std::string_view utf8, size_t maxBytes);

}  // namespace vd
