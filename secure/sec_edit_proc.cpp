// The secure edit's subclass procedure: which messages reach the edit control, and how each change the
// control makes is replayed on the hidden content.
#include "sec_edit.h"

#include "os_version.h"

namespace vd {
namespace {

constexpr UINT kRefusedMessage0507 = 0x0507;
constexpr LRESULT kWin8DialogCode = DLGC_WANTARROWS | DLGC_HASSETSEL | DLGC_WANTCHARS;  // 137
constexpr wchar_t kCtrlV = 22;

bool IsLetterOrDigit(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

}  // namespace

LRESULT CALLBACK CSecEdit::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  CSecEdit* self = FromWindow(hwnd);
  if (!self || self->edit_ != hwnd) return ::DefWindowProcW(hwnd, msg, wp, lp);
  try {
    LRESULT result = self->OnMessage(msg, wp, lp);
    if (msg == WM_NCDESTROY) self->Detach();
    return result;
  } catch (...) {
    // Nothing may unwind into the system's dispatcher; an exception means the message was not taken.
    return 0;
  }
}

LRESULT CSecEdit::PassOn(UINT msg, WPARAM wp, LPARAM lp) {
  return previous_ ? ::CallWindowProcW(previous_, edit_, msg, wp, lp) : ::DefWindowProcW(edit_, msg, wp, lp);
}

LRESULT CSecEdit::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_DESTROY:
    case WM_KILLFOCUS:
      LoseFocus();
      return PassOn(msg, wp, lp);
    case WM_SETFOCUS:
      GainFocus();
      return PassOn(msg, wp, lp);
    case WM_GETDLGCODE:
      if (OsVersion().IsWindows8OrLater()) return kWin8DialogCode;
      return PassOn(msg, wp, lp);
    case EM_CANUNDO:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SYSCHAR:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_CONTEXTMENU:
    // Ctrl+Z and the clipboard would change the asterisks behind the content's back.
    case WM_CUT:
    case WM_CLEAR:
      return 0;
    case EM_UNDO:
    case WM_UNDO:
    case WM_PASTE:
    case kRefusedMessage0507:
      return 1;
    case WM_KEYDOWN:
    case WM_KEYUP: {
      if (!active_) return 1;
      // Shift+Insert pastes inside the control itself, without a WM_PASTE.
      if (msg == WM_KEYDOWN && wp == VK_INSERT && (::GetKeyState(VK_SHIFT) & 0x8000)) return 0;
      const bool deleteDown = msg == WM_KEYDOWN && wp == VK_DELETE;
      if (deleteDown) before_ = ReadSelection();
      LRESULT result = PassOn(msg, wp, lp);
      if (deleteDown) {
        after_ = ReadSelection();
        Update(L'A', EditKind::kDelete);
      }
      return result;
    }
    case WM_CHAR:
      if (!active_) return 1;
      return OnChar(wp, lp);
    default:
      return PassOn(msg, wp, lp);
  }
}

LRESULT CSecEdit::OnChar(WPARAM wp, LPARAM lp) {
  const wchar_t ch = static_cast<wchar_t>(wp);
  const bool realKey = lp != 0;
  if (realKey && ch >= 32 && ch <= 126 && !IsLetterOrDigit(ch)) return 0;  // symbols are refused
  // The content holds only printable ASCII: a character above it would add an asterisk with nothing
  // behind it, and the PIN read back would be shorter than what the edit shows.
  if (realKey && ch > 126) return 0;
  if (ch == kCtrlV) return 0;
  before_ = ReadSelection();
  // A typed letter that reached the edit (no hook yet) is shown as an asterisk like every other: the
  // control's own buffer never holds a PIN character.
  const wchar_t shown = realKey && IsLetterOrDigit(ch) ? L'*' : ch;
  LRESULT result = PassOn(WM_CHAR, shown, lp);
  after_ = ReadSelection();
  if (after_ == before_) return 0;
  if (ch == VK_BACK) {
    Update(L'A', EditKind::kBackspace);
  } else if (realKey) {
    Update(ch, EditKind::kInsert);
  }
  // The caller of a zero-lParam character learns from a non-zero result that the control took it.
  return result ? result : 1;
}

}  // namespace vd
