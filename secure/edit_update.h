// How a secure edit's hidden content follows what its edit control did. The control already shows the new
// number of asterisks; the change is replayed on the real characters against the selection recorded
// before the control acted.
#pragma once

#include <cstddef>

#include "secret_text.h"

namespace vd {

enum class EditKind { kInsert, kDelete, kBackspace };

// Start not after end.
struct EditSelection {
  size_t start = 0;
  size_t end = 0;
  bool operator==(const EditSelection&) const = default;
};

enum class EditOutcome {
  kIgnored,           // not a character the content may hold: nothing happened
  kUnknownSituation,  // the selection lay beyond the content: nothing changed
  kLimitReached,      // the content is full and nothing was selected: nothing changed
  kApplied,           // the content follows the control; its parent is told
};

// `ch` is the inserted character (delete and backspace pass a placeholder letter); `editLength` the
// control's text length after the change; `limit` its character limit.
EditOutcome ApplyEdit(SecretText& plain, EditSelection before, EditKind kind, wchar_t ch, size_t editLength,
                      size_t limit);

}  // namespace vd
