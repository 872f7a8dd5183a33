#include "edit_update.h"

#include <windows.h>

namespace vd {

EditOutcome ApplyEdit(SecretText& plain, EditSelection before, EditKind kind, wchar_t ch, size_t editLength,
                      size_t limit) {
  if (ch < 32 || ch > 126) return EditOutcome::kIgnored;
  if (before.start > plain.size()) {
    ::OutputDebugStringW(L"Unknown situation occured!!!\n");
    return EditOutcome::kUnknownSituation;
  }
  if (before.end > plain.size()) before.end = plain.size();
  const size_t selected = before.end - before.start;

  switch (kind) {
    case EditKind::kInsert:
      if (plain.size() >= limit && selected == 0) return EditOutcome::kLimitReached;
      plain.Erase(before.start, selected);
      while (plain.size() < editLength && plain.size() < limit) {
        if (!plain.Insert(before.start, ch)) break;
      }
      break;
    case EditKind::kDelete:
      plain.Erase(before.start, selected);
      while (plain.size() > editLength && before.start < plain.size()) plain.Erase(before.start, 1);
      break;
    case EditKind::kBackspace: {
      plain.Erase(before.start, selected);
      size_t pos = before.start;
      while (plain.size() > editLength && pos > 0) {
        plain.Erase(pos - 1, 1);
        --pos;
      }
      break;
    }
  }
  return EditOutcome::kApplied;
}

}  // namespace vd
