// One request of the extension, answered: {"id": N, "method": "GetKeyCount", "params": [...], "origin": "..."}
// gets {"id": N, "result": ...} or {"id": N, "error": "..."}. The origin is the page's, as the extension
// saw it; the host checks it against the installed list on every request, whatever the extension decided.
// The extension itself asks {"id": N, "method": "ListOrigins"} for the list, which the host also sends
// unasked, as {"event": "origins", "origins": [...]}, before its first answer.
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
  // The consent an "InitKey" of a listed page needs before it erases; the host's asks the user.
  using ConsentSource = std::function<tq::EraseConsent(const std::string& origin)>;

  // `trusted` is asked for the list at every request, so a list the installer changes applies at once.
  // The token module is loaded at the first token query, not before: the list alone needs none.
  RequestHandler(tq::TokenQueries& queries, TrustedSource trusted, ConsentSource consent)
      : queries_(queries), trusted_(std::move(trusted)), consent_(std::move(consent)) {}

  // The answer's JSON text; never throws. A request that is no JSON object, or has no usable id, is
  // answered with "id": null.
  std::string Answer(std::string_view request);
  // The list of origins, unasked: {"event": "origins", "origins": [...]}; never throws.
  std::string OriginsEvent();

 private:
  tq::TokenQueries& queries_;
  TrustedSource trusted_;
  ConsentSource consent_;
};

// The answer to a frame that cannot be read as a request at all (too long).
std::string FrameError(std::string_view why);

// Texts between the code page of the token queries and the UTF-8 of JSON. ToAnsi fails (false) for a text
// the code page cannot hold exactly, so that no stand-in character can make two serials equal.
std::string AnsiToUtf8(std::string_view ansi);
bool Utf8ToAnsi(std::string_view utf8, std::string* ansi);

}  // namespace host
