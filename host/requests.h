// One request of the extension, answered: {"id": N, "method": "GetKeyCount", "params": [...], "origin": "..."}
// gets {"id": N, "result": ...} or {"id": N, "error": "..."}. The origin is the page's, as the extension
// saw it; the host checks it against the installed list on every request, whatever the extension decided.
// The extension itself asks {"id": N, "method": "ListOrigins"} for the list, which the host also sends
// unasked, as {"event": "origins", "origins": [...]}, before its first answer.
//
// An "InitKey" that reaches the user's question is answered later, from a thread of its own, while the
// other requests are answered at once: the host says {"event": "asking", "id": N} when the question is on
// the screen, and {"id": M, "method": "Withdraw", "params": [N]} from the extension (its page closed or
// went elsewhere) closes that question, which then answers N with 4099 and erases nothing.
//
// A request nested deeper than kMaxNesting levels is refused before it is read into memory.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "erase_confirm.h"
#include "handles.h"

#include "token_queries.h"
#include "trusted_origins.h"

namespace host {

constexpr int kMaxNesting = 32;

class RequestHandler {
 public:
  using TrustedSource = std::function<tq::TrustedOrigins()>;
  // The consent an "InitKey" of a listed page needs before it erases; the host's asks the user, with
  // `control` to withdraw the question and to learn that it opened.
  using ConsentSource = std::function<tq::EraseConsent(const std::string& origin, const tq::QuestionControl& control)>;
  // Sends one answer or event (JSON text); called from the reading thread and from an asking call's thread.
  using Reply = std::function<void(const std::string& text)>;

  // `trusted` is asked for the list at every request, so a list the installer changes applies at once.
  // The token module is loaded at the first token query, not before: the list alone needs none.
  RequestHandler(tq::TokenQueries& queries, TrustedSource trusted, ConsentSource consent);
  ~RequestHandler();
  RequestHandler(const RequestHandler&) = delete;
  RequestHandler& operator=(const RequestHandler&) = delete;

  // The answer's JSON text, the question (if any) asked on this thread; never throws. A request that is no
  // JSON object, or has no usable id, is answered with "id": null.
  std::string Answer(std::string_view request);
  // Answers through `reply`, exactly once per request: at once, or for an InitKey that asks the user,
  // from a thread of its own after the question was answered. Never throws.
  void Dispatch(std::string_view request, const Reply& reply);
  // Withdraws every question still open and waits until their calls have answered.
  void WithdrawAll();

  struct AskingCall;  // an InitKey on its own thread
  // The list of origins, unasked: {"event": "origins", "origins": [...]}; never throws.
  std::string OriginsEvent();

 private:
  struct Prepared;
  // Reads and checks a request; false with the answer when it gets one without a token query.
  bool Prepare(std::string_view text, Prepared* out, std::string* answer);
  std::string Run(const Prepared& request, const tq::QuestionControl& control);
  std::string Withdraw(const Prepared& request);
  // Forgets calls whose threads have ended.
  void ReapLocked();

  tq::TokenQueries& queries_;
  TrustedSource trusted_;
  ConsentSource consent_;
  vd::CriticalSection callsLock_;
  std::vector<std::unique_ptr<AskingCall>> calls_;
};

// The answer to a frame that cannot be read as a request at all (too long).
std::string FrameError(std::string_view why);

// Texts between the code page of the token queries and the UTF-8 of JSON. ToAnsi fails (false) for a text
// the code page cannot hold exactly, so that no stand-in character can make two serials equal.
std::string AnsiToUtf8(std::string_view ansi);
bool Utf8ToAnsi(std::string_view utf8, std::string* ansi);

}  // namespace host
