#include "erase_dialog.h"

#include "erase_confirm_ids.h"

#include <initializer_list>
#include <utility>

namespace vdtest {
namespace {

constexpr DWORD kPollMs = 10;

std::wstring TextOf(HWND wnd) {
  wchar_t buffer[1024] = {};
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutW(wnd, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000,
                        &ignored);
  return buffer;
}

BOOL CALLBACK FindQuestion(HWND wnd, LPARAM found) {
  if (!::IsWindowVisible(wnd) || !::GetDlgItem(wnd, IDC_ERASE_REQUEST) || !::GetDlgItem(wnd, IDOK)) return TRUE;
  *reinterpret_cast<HWND*>(found) = wnd;
  return FALSE;
}

HWND VisibleQuestion() {
  HWND found = nullptr;
  ::EnumWindows(FindQuestion, reinterpret_cast<LPARAM>(&found));
  return found;
}

EraseDialogSeen Read(HWND dlg) {
  EraseDialogSeen seen;
  seen.title = TextOf(dlg);
  seen.request = TextOf(::GetDlgItem(dlg, IDC_ERASE_REQUEST));
  seen.warning = TextOf(::GetDlgItem(dlg, IDC_ERASE_WARNING));
  seen.advice = TextOf(::GetDlgItem(dlg, IDC_ERASE_ADVICE));
  seen.eraseButton = TextOf(::GetDlgItem(dlg, IDOK));
  seen.cancelButton = TextOf(::GetDlgItem(dlg, IDCANCEL));
  seen.topmost = (::GetWindowLongPtrW(dlg, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  DWORD_PTR def = 0;
  ::SendMessageTimeoutW(dlg, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 2000, &def);
  if (HIWORD(def) == DC_HASDEFID) seen.defaultButton = LOWORD(def);
  return seen;
}

bool Showing(HWND dlg) { return ::IsWindow(dlg) && ::IsWindowVisible(dlg); }

// Waits until `done` holds or `timeoutMs` passed; answers `done()`.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (!done() && ::GetTickCount() - start < timeoutMs) ::Sleep(kPollMs);
  return done();
}

void Keys(std::initializer_list<std::pair<WORD, bool>> strokes) {  // virtual key, true for down
  std::vector<INPUT> inputs;
  for (const auto& [vk, down] : strokes) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    inputs.push_back(in);
  }
  ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// A left click at the middle of `control`, through the pointer.
void ClickOn(HWND control) {
  RECT r{};
  ::GetWindowRect(control, &r);
  const int x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
  INPUT in[3] = {};
  in[0].type = in[1].type = in[2].type = INPUT_MOUSE;
  in[0].mi.dx = static_cast<LONG>(x * 65536LL / ::GetSystemMetrics(SM_CXSCREEN)) + 1;
  in[0].mi.dy = static_cast<LONG>(y * 65536LL / ::GetSystemMetrics(SM_CYSCREEN)) + 1;
  in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  in[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  in[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  ::SendInput(3, in, sizeof(INPUT));
}

// Clicks the button once it takes answers, again if a click only brought the question to the front (it
// then guards itself anew), until the question has left the screen.
void Press(HWND dlg, int button, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  HWND control = ::GetDlgItem(dlg, button);
  while (Showing(dlg) && ::GetTickCount() - start < timeoutMs) {
    if (!WaitFor([&] { return !Showing(dlg) || ::IsWindowEnabled(control); }, timeoutMs)) return;
    if (!Showing(dlg)) return;
    ClickOn(control);
    WaitFor([&] { return !Showing(dlg) || !::IsWindowEnabled(control); }, 1500);
  }
}

const std::vector<EraseAttack> kAttacks = {
    {"the Erase button's old mnemonic e", [](HWND) { Keys({{'E', true}, {'E', false}}); }},
    {"Tab then Enter", [](HWND) { Keys({{VK_TAB, true}, {VK_TAB, false}, {VK_RETURN, true}, {VK_RETURN, false}}); }},
    {"Shift+Tab then Space",
     [](HWND) {
       Keys({{VK_SHIFT, true}, {VK_TAB, true}, {VK_TAB, false}, {VK_SHIFT, false}, {VK_SPACE, true}, {VK_SPACE, false}});
     }},
    {"a click on Erase 0.1 s after the question shows",
     [](HWND dlg) {
       ::Sleep(100);  // the moment a page's arranged double click lands, not a wait for an effect
       ClickOn(::GetDlgItem(dlg, IDOK));
     }},
};

HWND WaitForQuestion(DWORD timeoutMs) {
  HWND dlg = nullptr;
  WaitFor([&] { return (dlg = VisibleQuestion()) != nullptr; }, timeoutMs);
  return dlg;
}

// `seenFirst` is told what the question says before it is answered: the caller may return as soon as the
// question is gone.
std::optional<EraseDialogSeen> AnswerOnce(bool erase, DWORD timeoutMs, const std::atomic<bool>* stop,
                                          const std::function<void(const EraseDialogSeen&)>& seenFirst) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    HWND dlg = VisibleQuestion();
    // A question caught while it opens has no texts yet: read it once it says what it asks.
    if (dlg && !TextOf(::GetDlgItem(dlg, IDC_ERASE_REQUEST)).empty()) {
      EraseDialogSeen seen = Read(dlg);
      if (seenFirst) seenFirst(seen);
      Press(dlg, erase ? IDOK : IDCANCEL, 10000);
      return seen;
    }
    if ((stop && *stop) || ::GetTickCount() - start >= timeoutMs) return std::nullopt;
    ::Sleep(kPollMs);
  }
}

}  // namespace

const std::vector<EraseAttack>& EraseAttacks() { return kAttacks; }

AttackOutcome AttackEraseDialog(const EraseAttack& attack, DWORD timeoutMs) {
  AttackOutcome outcome;
  HWND dlg = WaitForQuestion(timeoutMs);
  if (!dlg) return outcome;
  // Keys reach the window in front; a question behind another window would make the attack vacuous.
  WaitFor([&] { return ::GetForegroundWindow() == dlg; }, 2000);
  outcome.asked = ::GetForegroundWindow() == dlg;
  attack.send(dlg);
  HWND cancel = ::GetDlgItem(dlg, IDCANCEL);
  WaitFor([&] { return !Showing(dlg) || ::IsWindowEnabled(cancel); }, 5000);
  outcome.stillAsking = Showing(dlg);
  Press(dlg, IDCANCEL, 10000);
  return outcome;
}

std::optional<EraseDialogSeen> ReadEraseDialog(DWORD timeoutMs) {
  HWND dlg = nullptr;
  WaitFor([&] { return (dlg = VisibleQuestion()) && !TextOf(::GetDlgItem(dlg, IDC_ERASE_REQUEST)).empty(); }, timeoutMs);
  if (!dlg) return std::nullopt;
  return Read(dlg);
}

bool WaitUntilNoQuestion(DWORD timeoutMs) {
  return WaitFor([] { return VisibleQuestion() == nullptr; }, timeoutMs);
}

bool ClickEraseAfter(DWORD afterMs, DWORD timeoutMs) {
  HWND dlg = WaitForQuestion(timeoutMs);
  if (!dlg) return false;
  ::Sleep(afterMs);  // a person reading the question before answering
  ClickOn(::GetDlgItem(dlg, IDOK));
  return WaitFor([&] { return !Showing(dlg); }, 5000);
}

std::optional<EraseDialogSeen> AnswerEraseDialog(bool erase, DWORD timeoutMs,
                                                 const std::function<void()>& beforeAnswer) {
  return AnswerOnce(erase, timeoutMs, nullptr, [&](const EraseDialogSeen&) {
    if (beforeAnswer) beforeAnswer();
  });
}

EraseDialogAnswerer::EraseDialogAnswerer(bool erase) : erase_(erase) {
  thread_ = std::thread([this] {
    while (!stop_) {
      AnswerOnce(erase_, 200, &stop_, [this](const EraseDialogSeen& seen) {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(seen);
      });
    }
  });
}

EraseDialogAnswerer::~EraseDialogAnswerer() {
  stop_ = true;
  thread_.join();
}

std::vector<EraseDialogSeen> EraseDialogAnswerer::seen() {
  std::lock_guard<std::mutex> lock(mutex_);
  return seen_;
}

}  // namespace vdtest
