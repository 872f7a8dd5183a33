// Asking the user before a page's "InitKey" erases a token: a top-most dialog shown by the process that
// does the erasing (the browser that loaded the plug-in, or the native messaging host), in the language of
// the user's interface. A page's script cannot answer it.
#pragma once

#include <string>
#include <string_view>

#include "token_queries.h"

namespace tq {

struct EraseQuestion {
  std::wstring origin;  // the page that asks
  std::wstring label;   // the token's label
  std::wstring serial;  // the token's serial number
};

// An unanswered question counts as Cancel after this long, so that no call waits for ever. The browser
// extension gives "InitKey" more time than this before it stops waiting.
constexpr unsigned kEraseQuestionTimeoutMs = 120000;

// The question about `candidate` for the page `origin` (UTF-8).
EraseQuestion QuestionFor(std::string_view origin, const EraseCandidate& candidate);

// Shows the question and waits for the answer: true only when the user chose to erase. Cancel, Escape,
// Enter (Cancel is the default button), closing the window, the time-out and a dialog that cannot be
// shown all answer false.
bool AskToErase(const EraseQuestion& question);

// The consent InitKey asks for, given by the user through AskToErase, for a page of `origin`.
EraseConsent ConsentOfTheUser(std::string origin);

}  // namespace tq
