#include "dialog_script.h"

namespace sectest {
HWND WaitForMessageBoxHere(HWND dialog, DWORD timeoutMs);
}

namespace sectest {

DialogScript::DialogScript(std::function<void(HWND)> script)
    : script_(std::move(script)),
      reported_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      ended_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  watch_.opened = [this](HWND dialog) {
    ++opened_;
    openedOn_ = ::GetCurrentThreadId();
    dialogThread_ = ::GetWindowThreadProcessId(dialog, nullptr);
    dialog_ = dialog;
    ::SetEvent(reported_);
  };
  watch_.closed = [this] { ++closed_; };
  thread_ = std::thread([this] {
    // The code under test returned without a dialog (Join): nothing to drive. Reported comes first, so a
    // dialog that opened is driven even when both are set.
    const HANDLE waits[] = {reported_, ended_};
    if (::WaitForMultipleObjects(2, waits, FALSE, 30000) != WAIT_OBJECT_0) return;
    HWND dialog = dialog_;
    script_(dialog);
    // A script that left the dialog open (a failed expectation) must not leave the test waiting.
    for (int attempt = 0; attempt < 5 && !WaitGone(dialog, 3000); ++attempt) {
      // A message box left open would keep the dialog's thread in its own modal loop: close it too.
      GUITHREADINFO info{};
      info.cbSize = sizeof info;
      if (::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndActive &&
          info.hwndActive != dialog)
        ::PostMessageW(info.hwndActive, WM_CLOSE, 0, 0);
      ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    }
  });
}

DialogScript::~DialogScript() {
  Join();
  ::CloseHandle(reported_);
  ::CloseHandle(ended_);
}

void DialogScript::Join() {
  ::SetEvent(ended_);
  if (thread_.joinable()) thread_.join();
}

void Type(HWND dialog, int id, const std::wstring& text) {
  // A secure edit takes keys only once it has had the focus, as a user's click or Tab gives it.
  HWND edit = ::GetDlgItem(dialog, id);
  ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
  // The dialog selects an edit's text when it takes the focus; type at the end instead.
  const int end = ::GetWindowTextLengthW(edit);
  ::SendMessageW(edit, EM_SETSEL, end, end);
  for (wchar_t c : text) ::SendDlgItemMessageW(dialog, id, WM_CHAR, c, 1);
}

void Settle(DWORD ms) { ::Sleep(ms); }

bool Enabled(HWND dialog, int id) { return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE; }

int Length(HWND dialog, int id) { return ::GetWindowTextLengthW(::GetDlgItem(dialog, id)); }

std::wstring TextOf(HWND window) {
  wchar_t buf[1024] = {};
  ::GetWindowTextW(window, buf, 1024);
  return buf;
}

void Click(HWND dialog, int id) { ::PostMessageW(::GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void OnDialogsDesktop(HWND dialog, const std::function<void()>& work) {
  HDESK desk = ::GetThreadDesktop(::GetWindowThreadProcessId(dialog, nullptr));
  if (desk == ::GetThreadDesktop(::GetCurrentThreadId())) {
    work();
    return;
  }
  std::thread t([&] {
    if (::SetThreadDesktop(desk)) work();
  });
  t.join();
}

HWND WaitForMessageBox(HWND dialog, DWORD timeoutMs) {
  HWND box = nullptr;
  // Windows of another desktop are listed only to threads on it.
  OnDialogsDesktop(dialog, [&] { box = WaitForMessageBoxHere(dialog, timeoutMs); });
  return box;
}

HWND WaitForMessageBoxHere(HWND dialog, DWORD timeoutMs) {
  const DWORD thread = ::GetWindowThreadProcessId(dialog, nullptr);
  struct Search {
    HWND dialog;
    HWND found;
  };
  for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
    Search s{dialog, nullptr};
    ::EnumThreadWindows(
        thread,
        [](HWND w, LPARAM p) -> BOOL {
          auto* s = reinterpret_cast<Search*>(p);
          wchar_t cls[16] = {};
          ::GetClassNameW(w, cls, 16);
          if (w != s->dialog && ::IsWindowVisible(w) && wcscmp(cls, L"#32770") == 0 && ::GetWindow(w, GW_OWNER) == s->dialog) {
            s->found = w;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    if (s.found) return s.found;
    ::Sleep(20);
  }
  return nullptr;
}

HWND FocusOf(HWND dialog) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info);
  return info.hwndFocus;
}

bool WaitGone(HWND window, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
    if (!::IsWindow(window)) return true;
    ::Sleep(20);
  }
  return !::IsWindow(window);
}

}  // namespace sectest
