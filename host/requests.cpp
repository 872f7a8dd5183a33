#include "requests.h"

#include <windows.h>

#include <climits>
#include <nlohmann/json.hpp>

#include "text.h"

namespace host {
namespace {

using nlohmann::json;

// What a page's script sees when its call is refused; the page shows or logs these, the user does not.
namespace why {
constexpr char kNotJson[] = "the request is not JSON";
constexpr char kNotObject[] = "the request is not a JSON object";
constexpr char kNoId[] = "the request has no numeric or text id";
constexpr char kNoMethod[] = "the request has no method name";
constexpr char kParamsNotList[] = "params must be a list";
constexpr char kUnknownMethod[] = "unknown method: ";
constexpr char kNoArguments[] = " takes no parameters";
constexpr char kOneText[] = "InitKey takes one text parameter, the token's serial number";
constexpr char kUntrusted[] = "this page's origin is not trusted by the Certificate Manager installation: ";
constexpr char kNoOrigin[] = "the request names no page origin";
constexpr char kInternal[] = "the host failed to answer";
constexpr char kListOriginsAlone[] = "ListOrigins takes no parameters and no page origin";
}  // namespace why

constexpr char kListOrigins[] = "ListOrigins";

std::string Dump(const json& answer) { return answer.dump(-1, ' ', false, json::error_handler_t::replace); }

json ErrorAnswer(const json& id, const std::string& text) { return {{"id", id}, {"error", text}}; }

// What a script method gets: the token queries, its parameters, and the consent an erasing needs.
struct Call {
  tq::TokenQueries& queries;
  const json& params;
  const tq::EraseConsent& consent;
};

// One script method: what it accepts, and the token work behind it. `run` returns the result value, or
// sets `error` for parameters the method does not take.
struct Method {
  const char* name;
  json (*run)(const Call& call, std::string* error);
};

bool NoParams(const char* name, const json& params, std::string* error) {
  if (!params.empty()) *error = std::string(name) + why::kNoArguments;
  return params.empty();
}

json RunGetKeyCount(const Call& call, std::string* error) {
  if (!NoParams("GetKeyCount", call.params, error)) return nullptr;
  return call.queries.GetKeyCount();
}

json RunGetUKeySN(const Call& call, std::string* error) {
  if (!NoParams("GetUKeySN", call.params, error)) return nullptr;
  char buffer[tq::kSerialTextSize] = {};
  call.queries.GetUKeySN(buffer, sizeof buffer);
  return AnsiToUtf8(buffer);
}

json RunGetSN(const Call& call, std::string* error) {
  if (!NoParams("GetSN", call.params, error)) return nullptr;
  char buffer[tq::kListTextSize] = {};
  int count = 0;
  call.queries.GetSN(buffer, sizeof buffer, &count);
  return AnsiToUtf8(buffer);
}

json RunGetAllCertCn(const Call& call, std::string* error) {
  if (!NoParams("GetAllCertCn", call.params, error)) return nullptr;
  char buffer[tq::kListTextSize] = {};
  int count = 0;
  call.queries.GetAllCertCn(buffer, sizeof buffer, &count);
  return AnsiToUtf8(buffer);
}

// As in the plug-in: a null serial counts as empty, and an empty one touches no token.
json RunInitKey(const Call& call, std::string* error) {
  const json& params = call.params;
  if (params.size() != 1 || !(params[0].is_string() || params[0].is_null())) {
    *error = why::kOneText;
    return nullptr;
  }
  const std::string serial = params[0].is_null() ? std::string() : params[0].get<std::string>();
  if (serial.empty()) return tq::kInitKeyNoSerial;
  std::string ansi;
  if (serial.size() > INT_MAX || !Utf8ToAnsi(serial, &ansi) || ansi.size() > INT_MAX) return tq::kInitKeyFailed;
  return call.queries.InitKey(ansi.data(), static_cast<int>(ansi.size()), call.consent);
}

constexpr Method kMethods[] = {
    {"InitKey", RunInitKey},   {"GetKeyCount", RunGetKeyCount},   {"GetUKeySN", RunGetUKeySN},
    {"GetSN", RunGetSN},       {"GetAllCertCn", RunGetAllCertCn},
};

}  // namespace

std::string RequestHandler::Answer(std::string_view text) {
  try {
    const json request = json::parse(text.begin(), text.end(), nullptr, false);
    if (request.is_discarded()) return Dump(ErrorAnswer(nullptr, why::kNotJson));
    if (!request.is_object()) return Dump(ErrorAnswer(nullptr, why::kNotObject));
    auto id = request.find("id");
    if (id == request.end() || !(id->is_number() || id->is_string()))
      return Dump(ErrorAnswer(nullptr, why::kNoId));
    auto method = request.find("method");
    if (method == request.end() || !method->is_string()) return Dump(ErrorAnswer(*id, why::kNoMethod));
    auto paramsAt = request.find("params");
    const json params = paramsAt == request.end() ? json::array() : *paramsAt;
    if (!params.is_array()) return Dump(ErrorAnswer(*id, why::kParamsNotList));

    const std::string& name = method->get_ref<const std::string&>();
    // The extension's own question, never a page's: the extension does not relay this name.
    if (name == kListOrigins) {
      if (!params.empty() || request.contains("origin")) return Dump(ErrorAnswer(*id, why::kListOriginsAlone));
      return Dump({{"id", *id}, {"result", trusted_().origins()}});
    }
    const Method* chosen = nullptr;
    for (const Method& m : kMethods) {
      if (name == m.name) chosen = &m;
    }
    if (!chosen) return Dump(ErrorAnswer(*id, why::kUnknownMethod + name));

    auto origin = request.find("origin");
    if (origin == request.end() || !origin->is_string() || origin->get_ref<const std::string&>().empty())
      return Dump(ErrorAnswer(*id, why::kNoOrigin));
    const std::string& page = origin->get_ref<const std::string&>();
    if (!trusted_().Names(page)) return Dump(ErrorAnswer(*id, why::kUntrusted + page));

    queries_.Load();  // once; a failed load answers every query softly, as the plug-in does
    const tq::EraseConsent consent =
        chosen->run == RunInitKey && consent_ ? consent_(tq::NormaliseOrigin(page)) : tq::EraseConsent();
    std::string error;
    json result = chosen->run(Call{queries_, params, consent}, &error);
    if (!error.empty()) return Dump(ErrorAnswer(*id, error));
    return Dump({{"id", *id}, {"result", result}});
  } catch (...) {
    return Dump(ErrorAnswer(nullptr, why::kInternal));
  }
}

std::string RequestHandler::OriginsEvent() {
  try {
    return Dump({{"event", "origins"}, {"origins", trusted_().origins()}});
  } catch (...) {
    return "{\"event\":\"origins\",\"origins\":[]}";
  }
}

std::string FrameError(std::string_view text) {
  try {
    return Dump(ErrorAnswer(nullptr, std::string(text)));
  } catch (...) {
    return "{\"id\":null,\"error\":\"the host failed to answer\"}";
  }
}

std::string AnsiToUtf8(std::string_view ansi) { return vd::WideToUtf8(vd::AnsiToWide(ansi)); }

bool Utf8ToAnsi(std::string_view utf8, std::string* ansi) {
  ansi->clear();
  if (utf8.empty()) return true;
  const int wideLength =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (wideLength <= 0) return false;
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), wideLength);
  BOOL usedDefault = FALSE;
  const int bytes = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, nullptr, 0, nullptr,
                                          &usedDefault);
  if (bytes <= 0 || usedDefault) return false;
  ansi->resize(static_cast<size_t>(bytes));
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, ansi->data(), bytes, nullptr,
                        &usedDefault);
  return !usedDefault;
}

}  // namespace host
