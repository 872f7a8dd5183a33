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
constexpr char kTooDeep[] = "the request is nested deeper than 32 levels";
constexpr char kWithdrawAlone[] = "Withdraw takes the id of a call and no page origin";
}  // namespace why

constexpr char kListOrigins[] = "ListOrigins";
constexpr char kWithdraw[] = "Withdraw";

// How deep the text's arrays and objects nest, counted without building anything; stops counting at
// `limit` + 1.
int NestingOf(std::string_view text, int limit) {
  int depth = 0, deepest = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > deepest && (deepest = depth) > limit) return deepest;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

// The id of a request too deep to read whole: only its top level is kept.
json IdOfDeepRequest(std::string_view text) {
  const json::parser_callback_t topOnly = [](int depth, json::parse_event_t event, json&) {
    return depth <= 1 || (event != json::parse_event_t::object_start && event != json::parse_event_t::array_start);
  };
  const json request = json::parse(text.begin(), text.end(), topOnly, false);
  if (!request.is_object()) return nullptr;
  auto id = request.find("id");
  return id != request.end() && (id->is_number() || id->is_string()) ? *id : json();
}

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

namespace {

// Prepare's way out with an answer of its own: false, so that no token work follows.
bool Answered(std::string* answer, std::string text) {
  *answer = std::move(text);
  return false;
}

}  // namespace

struct RequestHandler::Prepared {
  json request;
  json id;
  const Method* method = nullptr;  // nullptr: the extension's Withdraw
  std::string origin;              // normalised
  const json& params() const {
    static const json kNone = json::array();
    auto at = request.find("params");
    return at == request.end() ? kNone : *at;
  }
};

// One InitKey that asks the user, on a thread of its own.
struct RequestHandler::AskingCall {
  RequestHandler* handler;
  Prepared request;
  Reply reply;
  vd::UniqueKernelHandle withdrawn;  // made only for a call that asks: a kernel object costs a server call
  vd::UniqueKernelHandle thread;
  volatile LONG done = 0;

  static DWORD WINAPI Main(void* self) {
    auto* call = static_cast<AskingCall*>(self);
    try {
      tq::QuestionControl control;
      control.withdrawn = call->withdrawn.get();
      control.opened = [call] { call->reply(Dump({{"event", "asking"}, {"id", call->request.id}})); };
      call->reply(call->handler->Run(call->request, control));
    } catch (...) {
      // Run answers for itself; only the reply can fail here, and then the output is gone anyway.
    }
    ::InterlockedExchange(&call->done, 1);
    return 0;
  }
};

RequestHandler::RequestHandler(tq::TokenQueries& queries, TrustedSource trusted, ConsentSource consent)
    : queries_(queries), trusted_(std::move(trusted)), consent_(std::move(consent)) {}

RequestHandler::~RequestHandler() { WithdrawAll(); }

bool RequestHandler::Prepare(std::string_view text, Prepared* out, std::string* answer) {
  // Checked before parsing: a deep request must never become a deep tree, which every later step would
  // walk recursively.
  if (NestingOf(text, kMaxNesting) > kMaxNesting)
    return Answered(answer, Dump(ErrorAnswer(IdOfDeepRequest(text), why::kTooDeep)));
  out->request = json::parse(text.begin(), text.end(), nullptr, false);
  const json& request = out->request;
  if (request.is_discarded()) return Answered(answer, Dump(ErrorAnswer(nullptr, why::kNotJson)));
  if (!request.is_object()) return Answered(answer, Dump(ErrorAnswer(nullptr, why::kNotObject)));
  auto id = request.find("id");
  if (id == request.end() || !(id->is_number() || id->is_string()))
    return Answered(answer, Dump(ErrorAnswer(nullptr, why::kNoId)));
  out->id = *id;
  auto method = request.find("method");
  if (method == request.end() || !method->is_string()) return Answered(answer, Dump(ErrorAnswer(*id, why::kNoMethod)));
  const json& params = out->params();
  if (!params.is_array()) return Answered(answer, Dump(ErrorAnswer(*id, why::kParamsNotList)));

  const std::string& name = method->get_ref<const std::string&>();
  // The extension's own questions, never a page's: the extension does not relay these names.
  if (name == kListOrigins) {
    if (!params.empty() || request.contains("origin"))
      return Answered(answer, Dump(ErrorAnswer(*id, why::kListOriginsAlone)));
    return Answered(answer, Dump({{"id", *id}, {"result", trusted_().origins()}}));
  }
  if (name == kWithdraw) {
    if (params.size() != 1 || !(params[0].is_number() || params[0].is_string()) || request.contains("origin"))
      return Answered(answer, Dump(ErrorAnswer(*id, why::kWithdrawAlone)));
    return Answered(answer, Withdraw(*out));
  }
  for (const Method& m : kMethods) {
    if (name == m.name) out->method = &m;
  }
  if (!out->method) return Answered(answer, Dump(ErrorAnswer(*id, why::kUnknownMethod + name)));

  auto origin = request.find("origin");
  if (origin == request.end() || !origin->is_string() || origin->get_ref<const std::string&>().empty())
    return Answered(answer, Dump(ErrorAnswer(*id, why::kNoOrigin)));
  const std::string& page = origin->get_ref<const std::string&>();
  if (!trusted_().Names(page)) return Answered(answer, Dump(ErrorAnswer(*id, why::kUntrusted + page)));
  out->origin = tq::NormaliseOrigin(page);
  return true;
}

std::string RequestHandler::Run(const Prepared& request, const tq::QuestionControl& control) {
  try {
    queries_.Load();  // once; a failed load answers every query softly, as the plug-in does
    const tq::EraseConsent consent =
        request.method->run == RunInitKey && consent_ ? consent_(request.origin, control) : tq::EraseConsent();
    std::string error;
    json result = request.method->run(Call{queries_, request.params(), consent}, &error);
    if (!error.empty()) return Dump(ErrorAnswer(request.id, error));
    return Dump({{"id", request.id}, {"result", result}});
  } catch (...) {
    return Dump(ErrorAnswer(request.id, why::kInternal));
  }
}

std::string RequestHandler::Answer(std::string_view text) {
  try {
    Prepared request;
    std::string answer;
    if (!Prepare(text, &request, &answer)) return answer;
    return Run(request, {});
  } catch (...) {
    return Dump(ErrorAnswer(nullptr, why::kInternal));
  }
}

void RequestHandler::Dispatch(std::string_view text, const Reply& reply) {
  std::string answer;
  try {
    auto call = std::make_unique<AskingCall>();
    if (!Prepare(text, &call->request, &answer)) {
      reply(answer);
      return;
    }
    const Prepared& request = call->request;
    const json& params = request.params();
    // Only an InitKey that can reach the question needs a thread; the rest, refusals included, answer now.
    const bool asks = request.method->run == RunInitKey && params.size() == 1 && params[0].is_string() &&
                      !params[0].get_ref<const std::string&>().empty();
    if (!asks) {
      reply(Run(request, {}));
      return;
    }
    vd::CsLock lock(callsLock_);
    ReapLocked();
    // One question at a time: a call that would wait behind another's question is refused at once.
    if (!calls_.empty() || !tq::MayAskToErase(request.origin)) {
      reply(Dump({{"id", request.id}, {"result", tq::kInitKeyFailed}}));
      return;
    }
    call->handler = this;
    call->reply = reply;
    call->withdrawn.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!call->withdrawn) {
      reply(Dump(ErrorAnswer(request.id, why::kInternal)));
      return;
    }
    call->thread.reset(::CreateThread(nullptr, 0, &AskingCall::Main, call.get(), 0, nullptr));
    if (!call->thread) {
      reply(Dump(ErrorAnswer(request.id, why::kInternal)));
      return;
    }
    calls_.push_back(std::move(call));
  } catch (...) {
    reply(Dump(ErrorAnswer(nullptr, why::kInternal)));
  }
}

std::string RequestHandler::Withdraw(const Prepared& request) {
  const json& target = request.params()[0];
  bool found = false;
  vd::CsLock lock(callsLock_);
  for (const auto& call : calls_) {
    if (call->request.id == target && !call->done) {
      ::SetEvent(call->withdrawn.get());
      found = true;
    }
  }
  return Dump({{"id", request.id}, {"result", found}});
}

void RequestHandler::ReapLocked() {
  for (auto it = calls_.begin(); it != calls_.end();) {
    if ((*it)->done) {
      ::WaitForSingleObject((*it)->thread.get(), INFINITE);
      it = calls_.erase(it);
    } else {
      ++it;
    }
  }
}

void RequestHandler::WithdrawAll() {
  std::vector<std::unique_ptr<AskingCall>> calls;
  {
    vd::CsLock lock(callsLock_);
    for (const auto& call : calls_) ::SetEvent(call->withdrawn.get());
    calls.swap(calls_);
  }
  for (const auto& call : calls) ::WaitForSingleObject(call->thread.get(), INFINITE);
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
