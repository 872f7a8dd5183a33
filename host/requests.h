// One request of the extension, answered: {"id": N, "method": "GetKeyCount", "params": [...], "origin": "..."}
// gets {"id": N, "result": ...} or {"id": N, "error": "..."}. The origin is the page's, as the extension
// saw it; the host checks it against the installed list on every request, whatever the extension decided.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "token_queries.h"
#include "trusted_origins.h"

namespace host {

class RequestHandler {
 public:
  using TrustedSource = std::function<tq::TrustedOrigins()>;

  // `trusted` is asked for the list at every request, so a list the installer changes applies at once.
  RequestHandler(tq::TokenQueries& queries, TrustedSource trusted)
      : queries_(queries), trusted_(std::move(trusted)) {}

  // The answer's JSON text; never throws. A request that is no JSON object, or has no usable id, is
  // answered with "id": null.
  std::string Answer(std::string_view request);

 private:
  tq::TokenQueries& queries_;
  TrustedSource trusted_;
};

// The answer to a frame that cannot be read as a request at all (too long).
std::string FrameError(std::string_view why);

// Texts between the code page of the token queries and the UTF-8 of JSON. ToAnsi fails (false) for a text
// the code page cannot hold exactly, so that no stand-in character can make two serials equal.
std::string AnsiToUtf8(std::string_view ansi);
bool Utf8ToAnsi(std::string_view utf8, std::string* ansi);

}  // namespace host
