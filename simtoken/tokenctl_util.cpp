#include "tokenctl_util.h"

#include <cerrno>
#include <cwchar>

namespace tokenctl {
namespace {

struct RvName {
  const char* name;
  CK_RV rv;
};

constexpr RvName kRvNames[] = {
    {"CKR_OK", CKR_OK},
    {"CKR_HOST_MEMORY", CKR_HOST_MEMORY},
    {"CKR_GENERAL_ERROR", CKR_GENERAL_ERROR},
    {"CKR_FUNCTION_FAILED", CKR_FUNCTION_FAILED},
    {"CKR_ARGUMENTS_BAD", CKR_ARGUMENTS_BAD},
    {"CKR_NO_EVENT", CKR_NO_EVENT},
    {"CKR_ATTRIBUTE_TYPE_INVALID", CKR_ATTRIBUTE_TYPE_INVALID},
    {"CKR_DEVICE_ERROR", CKR_DEVICE_ERROR},
    {"CKR_DEVICE_MEMORY", CKR_DEVICE_MEMORY},
    {"CKR_DEVICE_REMOVED", CKR_DEVICE_REMOVED},
    {"CKR_FUNCTION_NOT_SUPPORTED", CKR_FUNCTION_NOT_SUPPORTED},
    {"CKR_OBJECT_HANDLE_INVALID", CKR_OBJECT_HANDLE_INVALID},
    {"CKR_OPERATION_ACTIVE", CKR_OPERATION_ACTIVE},
    {"CKR_PIN_INCORRECT", CKR_PIN_INCORRECT},
    {"CKR_PIN_LEN_RANGE", CKR_PIN_LEN_RANGE},
    {"CKR_PIN_LOCKED", CKR_PIN_LOCKED},
    {"CKR_SESSION_HANDLE_INVALID", CKR_SESSION_HANDLE_INVALID},
    {"CKR_SESSION_COUNT", CKR_SESSION_COUNT},
    {"CKR_TOKEN_NOT_PRESENT", CKR_TOKEN_NOT_PRESENT},
    {"CKR_TOKEN_NOT_RECOGNIZED", CKR_TOKEN_NOT_RECOGNIZED},
    {"CKR_BUFFER_TOO_SMALL", CKR_BUFFER_TOO_SMALL},
    {"CKR_CRYPTOKI_NOT_INITIALIZED", CKR_CRYPTOKI_NOT_INITIALIZED},
    {"CKR_CRYPTOKI_ALREADY_INITIALIZED", CKR_CRYPTOKI_ALREADY_INITIALIZED},
};

// Every function that reads the fault rules: the implemented standard functions and the vendor entries.
constexpr const char* kFaultable[] = {
    "C_Initialize",      "C_Finalize",          "C_GetInfo",         "C_GetSlotList",     "C_GetSlotInfo",
    "C_GetTokenInfo",    "C_OpenSession",       "C_CloseSession",    "C_CloseAllSessions", "C_GetSessionInfo",
    "C_SetPIN",          "C_DestroyObject",     "C_GetAttributeValue", "C_FindObjectsInit", "C_FindObjects",
    "C_FindObjectsFinal", "E_InitToken",        "E_SetLabel",        "E_GetPinInfo",      "E_WaitForEvent",
};

}  // namespace

bool ParseArgs(const std::vector<std::wstring>& args, size_t from, const std::set<std::wstring>& valueOptions,
               const std::set<std::wstring>& flagOptions, ParsedArgs* out, std::string* error) {
  for (size_t i = from; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (a.size() < 3 || a.compare(0, 2, L"--") != 0) {
      out->positional.push_back(a);
      continue;
    }
    std::wstring name = a.substr(2);
    if (valueOptions.count(name)) {
      if (i + 1 >= args.size()) {
        *error = "option " + Narrow(a) + " needs a value";
        return false;
      }
      if (!out->values.emplace(name, args[++i]).second) {
        *error = "option " + Narrow(a) + " given twice";
        return false;
      }
    } else if (flagOptions.count(name)) {
      out->flags.insert(name);
    } else {
      *error = "unknown option " + Narrow(a);
      return false;
    }
  }
  return true;
}

std::optional<uint32_t> ParseNumber(const std::wstring& text) {
  if (text.empty() || text[0] == L'-' || text[0] == L'+' || iswspace(text[0])) return std::nullopt;
  wchar_t* end = nullptr;
  errno = 0;
  unsigned long long v = std::wcstoull(text.c_str(), &end, 0);
  if (errno != 0 || !end || *end != L'\0' || v > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<uint32_t>(v);
}

std::optional<std::vector<uint8_t>> ParseHex(const std::wstring& text) {
  if (text.empty() || text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  for (size_t i = 0; i < text.size(); i += 2) {
    auto digit = [](wchar_t c) -> int {
      if (c >= L'0' && c <= L'9') return c - L'0';
      if (c >= L'a' && c <= L'f') return c - L'a' + 10;
      if (c >= L'A' && c <= L'F') return c - L'A' + 10;
      return -1;
    };
    int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return out;
}

std::optional<CK_RV> ParseRv(const std::wstring& text) {
  std::string n = Narrow(text);
  for (const RvName& r : kRvNames)
    if (n == r.name) return r.rv;
  if (auto v = ParseNumber(text)) return static_cast<CK_RV>(*v);
  return std::nullopt;
}

bool IsFaultableFunction(const std::string& name) {
  for (const char* f : kFaultable)
    if (name == f) return true;
  return false;
}

std::string FaultableFunctions() {
  std::string all;
  for (const char* f : kFaultable) all += std::string(all.empty() ? "" : " ") + f;
  return all;
}

std::string Narrow(const std::wstring& s) {
  std::string out;
  for (wchar_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

}  // namespace tokenctl
