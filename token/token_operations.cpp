#include "token_operations.h"

#include <cstring>

#include "text.h"

namespace vd {
namespace {

// One character per byte, as the device-information dialog shows model and serial. A NUL ends the field:
// inside the dialog's text it would cut off every line after it.
std::wstring BytesAsCharacters(const CK_UTF8CHAR* field, size_t size, bool dropTrailingBlanks) {
  size_t n = 0;
  while (n < size && field[n] != 0) ++n;
  if (dropTrailingBlanks) {
    while (n > 0 && field[n - 1] == ' ') --n;
  }
  std::wstring out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) out += static_cast<wchar_t>(field[i]);
  return out;
}

CK_RV GetTokenInfo(CK_FUNCTION_LIST* fl, CK_SLOT_ID slot, CK_TOKEN_INFO* info) {
  if (!fl || !fl->C_GetTokenInfo) return CKR_GENERAL_ERROR;
  std::memset(info, 0, sizeof *info);
  return fl->C_GetTokenInfo(slot, info);
}

}  // namespace

std::string_view Utf8Prefix(std::string_view utf8, size_t maxBytes) {
  if (utf8.size() <= maxBytes) return utf8;
  size_t n = maxBytes;
  // Look back at most three bytes for the lead byte of a character that the cut would split.
  for (size_t back = 1; back <= 3 && back <= n; ++back) {
    const unsigned char c = static_cast<unsigned char>(utf8[n - back]);
    if (c < 0x80) break;
    if (c >= 0xC0) {
      const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      if (length > back) n -= back;
      break;
    }
  }
  return utf8.substr(0, n);
}

TokenFacts ReadTokenFacts(CK_FUNCTION_LIST* fl, AuxFunctionList* aux, CK_SLOT_ID slot, int tokenCount) {
  TokenFacts facts;
  if (tokenCount <= 0) return facts;
  facts.tokenCount = tokenCount;

  CK_TOKEN_INFO info;
  if (GetTokenInfo(fl, slot, &info) == CKR_OK) {
    facts.model = BytesAsCharacters(info.model, sizeof info.model, true);
    facts.serial = BytesAsCharacters(info.serialNumber, sizeof info.serialNumber, false);
  }

  // Byte 2 of the PIN information is the user PIN's maximum of tries, byte 3 what is left of it.
  CK_BYTE pin[4] = {};
  facts.pinInfoResult = aux && aux->getPinInfo ? aux->getPinInfo(slot, pin) : CKR_FUNCTION_NOT_SUPPORTED;
  if (facts.pinInfoResult == CKR_OK) {
    facts.triesLeft = pin[3];
    // A module that reports more tries left than its maximum has spent none.
    facts.wrongTries = pin[2] > pin[3] ? pin[2] - pin[3] : 0;
  }
  return facts;
}

CK_RV WriteTokenLabel(AuxFunctionList* aux, CK_SLOT_ID slot, const std::wstring& name) {
  // Reporting success for a label that was never written would let the window show a name the token lacks.
  if (!aux || !aux->setLabel) return CKR_FUNCTION_NOT_SUPPORTED;
  CK_UTF8CHAR label[kTokenLabelBytes];
  std::memset(label, ' ', sizeof label);
  const std::string utf8 = WideToUtf8(name);
  const std::string_view fits = Utf8Prefix(utf8, sizeof label);
  std::memcpy(label, fits.data(), fits.size());
  return aux->setLabel(slot, 0, 0, 0, label);
}

CK_RV ReadTokenLabel(CK_FUNCTION_LIST* fl, CK_SLOT_ID slot, std::string* utf8) {
  utf8->clear();
  CK_TOKEN_INFO info;
  const CK_RV rv = GetTokenInfo(fl, slot, &info);
  if (rv != CKR_OK) return rv;
  utf8->assign(FixedField(info.label, sizeof info.label));
  return CKR_OK;
}

}  // namespace vd
