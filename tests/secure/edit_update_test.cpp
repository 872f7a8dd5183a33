// Replaying an edit control's change on the hidden content, against the selection recorded before it.
#include <gtest/gtest.h>

#include <string>

#include "edit_update.h"

namespace {

using vd::EditKind;
using vd::EditOutcome;

TEST(SecureEditUpdate, ContentFollowsTheControl) {
  struct Row {
    const char* name;
    const wchar_t* before;
    size_t start, end;
    EditKind kind;
    wchar_t ch;
    size_t editLength;  // asterisks after the control's change
    size_t limit;
    const wchar_t* after;
    EditOutcome outcome;
  };
  const EditKind ins = EditKind::kInsert, del = EditKind::kDelete, bs = EditKind::kBackspace;
  const EditOutcome ok = EditOutcome::kApplied;
  const Row rows[] = {
      {"typing into an empty edit", L"", 0, 0, ins, L'q', 1, 12, L"q", ok},
      {"typing at the end", L"ab", 2, 2, ins, L'c', 3, 12, L"abc", ok},
      {"typing in the middle", L"ab", 1, 1, ins, L'x', 3, 12, L"axb", ok},
      {"typing over two selected", L"abcd", 1, 3, ins, L'x', 3, 12, L"axd", ok},
      {"selection given end first is the same", L"abcd", 0, 4, ins, L'x', 1, 12, L"x", ok},
      {"full and nothing selected", L"abcd", 4, 4, ins, L'e', 4, 4, L"abcd", EditOutcome::kLimitReached},
      {"full but a selection replaced", L"abcd", 0, 2, ins, L'z', 3, 4, L"zcd", ok},
      {"two asterisks for one change repeat the character", L"a", 1, 1, ins, L'b', 3, 12, L"abb", ok},
      {"Delete at the caret", L"abcd", 1, 1, del, L'A', 3, 12, L"acd", ok},
      {"Delete of a selection", L"abcd", 1, 3, del, L'A', 2, 12, L"ad", ok},
      {"Delete at the end removes nothing", L"ab", 2, 2, del, L'A', 2, 12, L"ab", ok},
      {"Backspace at the caret", L"abcd", 2, 2, bs, L'A', 3, 12, L"acd", ok},
      {"Backspace of a selection", L"abcd", 0, 2, bs, L'A', 2, 12, L"cd", ok},
      {"Backspace at the start removes nothing", L"ab", 0, 0, bs, L'A', 1, 12, L"ab", ok},
      {"a selection end beyond the content is cut", L"ab", 1, 5, del, L'A', 1, 12, L"a", ok},
      {"a selection start beyond the content changes nothing", L"ab", 3, 3, ins, L'c', 3, 12, L"ab",
       EditOutcome::kUnknownSituation},
      {"a character outside printable ASCII is ignored", L"ab", 2, 2, ins, 0x7F, 3, 12, L"ab", EditOutcome::kIgnored},
      {"a control character is ignored", L"ab", 2, 2, ins, L'\t', 3, 12, L"ab", EditOutcome::kIgnored},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    vd::SecretText plain;
    plain.AssignUntilNul(r.before, 64);
    vd::EditSelection sel{std::min(r.start, r.end), std::max(r.start, r.end)};
    EXPECT_EQ(vd::ApplyEdit(plain, sel, r.kind, r.ch, r.editLength, r.limit), r.outcome);
    EXPECT_EQ(std::wstring(plain.data(), plain.size()), r.after);
  }
}

}  // namespace
