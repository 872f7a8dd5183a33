// Asking the user before a page's "InitKey" erases a token: a top-most dialog shown by the process that
// does the erasing (the browser that loaded the plug-in, or the native messaging host), in the language of
// the user's interface. A page's script cannot answer it, nor can the user's typing: for a second after
// it shows, and after each time it is activated, it takes no keys or clicks.
//
// One question at a time in a process: while one is open, every other InitKey is refused at once, and
// after the user cancels a page's question, that origin's InitKey is refused at once for a minute, so
// that a page cannot put the question up again and again until a stray click answers it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "token_queries.h"

namespace tq {

struct EraseQuestion {
  std::string originKey;  // the page's normalised origin, which the refusals go by
  std::wstring origin;    // the page that asks, as shown
  std::wstring label;     // the token's label, as shown
  std::wstring serial;    // the token's serial number, as shown
};

// An unanswered question counts as Cancel after this long, so that no call waits for ever. The browser
// extension gives "InitKey" more time than this from the moment the host says the question opened.
constexpr unsigned kEraseQuestionTimeoutMs = 120000;
// How long an origin's InitKey is refused after the user cancelled its question.
constexpr unsigned kRefusalAfterCancelMs = 60000;

// What a caller may do to a question while it is open.
struct QuestionControl {
  HANDLE withdrawn = nullptr;    // once signalled, the question closes and answers "no"
  std::function<void()> opened;  // called once the question is on the screen
};

// The question about `candidate` for the page `origin` (UTF-8), with every text made safe to show:
// control, line-breaking, bidirectional and invisible characters and double quotes become a visible
// mark, so that a label cannot pose as another part of the question; a Unicode host name is shown
// beside its "xn--" form.
EraseQuestion QuestionFor(std::string_view origin, const EraseCandidate& candidate);

// False when a question of `origin` would be refused now: another question is open in this process, or
// the user cancelled one of this origin in the last kRefusalAfterCancelMs.
bool MayAskToErase(std::string_view origin);

// Shows the question and waits for the answer: true only when the user chose to erase. Cancel, Escape,
// Enter (Cancel is the default button), closing the window, the time-out, a withdrawal, a refusal by
// MayAskToErase and a dialog that cannot be shown all answer false.
bool AskToErase(const EraseQuestion& question, const QuestionControl& control = {});

// The consent InitKey asks for, given by the user through AskToErase, for a page of `origin`.
EraseConsent ConsentOfTheUser(std::string origin, QuestionControl control = {});

}  // namespace tq
