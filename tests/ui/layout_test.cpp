// Every dialog of vardeck and the plug-in's erase question, in each shipped language at 96, 144 and 192
// DPI: no text clipped by its control, no control outside its window or over another, every window within
// a 1024x768 screen. A process takes its DPI when it starts, so each DPI runs in a child process of this
// executable, started after the prefix's LogPixels was set (and put back afterwards).
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "commands_ids.h"
#include "common_ids.h"
#include "erase_confirm_ids.h"
#include "erase_texts.h"
#include "expiry_dialog.h"
#include "expiry_ids.h"
#include "key_input.h"
#include "language_manager.h"
#include "main_ids.h"
#include "product.h"
#include "registry.h"
#include "scaled_art.h"
#include "screenshot.h"
#include "secure_ids.h"
#include "secure_text.h"
#include "shipped_texts.h"
#include "testsupport.h"
#include "text.h"

namespace {

constexpr wchar_t kDesktopKey[] = L"Control Panel\\Desktop";
constexpr int kDpis[] = {96, 144, 192};
constexpr int kScreenWidth = 1024, kScreenHeight = 768;

// The texts the dialogs' own code sets when they open, on top of the translation of their template.
void FillMain(HWND dlg) { vd::ShowBannerForDpi(dlg, IDC_BANNER); }

void FillCheckCert(HWND dlg) { ::SetDlgItemTextW(dlg, IDC_CHECK_CERT_MESSAGE, vd::ExpiryMessage(29).c_str()); }

void FillChangePin(HWND dlg) {
  // The plain run's advice is the longer one; the label shows the token's limits.
  ::SetDlgItemTextW(dlg, IDC_PIN_ADVICE, vd::Text(vd::secure_text::kPlainAdvice).c_str());
  ::SetDlgItemTextW(dlg, IDC_NEW_PIN_LABEL, vd::FormatText(vd::secure_text::kNewPinLabel, {6, 12}).c_str());
}

void FillErase(HWND dlg) {
  // The longest a page can make it: a long origin, a 32-character label and a 16-digit serial.
  const std::wstring request = vd::FormatText(
      vd::erase_text::kRequest,
      {L"https://online-banking.branch-office.example:8443", L"WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW", L"0123456789ABCDEF"});
  ::SetWindowTextW(dlg, vd::Text(vd::erase_text::kTitle).c_str());
  ::SetDlgItemTextW(dlg, IDC_ERASE_REQUEST, request.c_str());
  ::SetDlgItemTextW(dlg, IDC_ERASE_WARNING, vd::Text(vd::erase_text::kWarning).c_str());
  ::SetDlgItemTextW(dlg, IDC_ERASE_ADVICE, vd::Text(vd::erase_text::kAdvice).c_str());
  ::SetDlgItemTextW(dlg, IDOK, vd::Text(vd::erase_text::kErase).c_str());
  ::SetDlgItemTextW(dlg, IDCANCEL, vd::Text(vd::erase_text::kCancel).c_str());
}

struct WindowCase {
  const char* name;
  int templateId;
  bool translated;  // the dialog's code runs TranslateDialog on it
  std::function<void(HWND)> fill;
};

const WindowCase kWindows[] = {
    {"main window", IDD_CERTMANAGER, true, FillMain},
    {"About", IDD_ABOUT, true, {}},
    {"Set Notifier", IDD_SET_NOTIFIER, true, {}},
    {"Check Cert", IDD_CHECK_CERT, true, FillCheckCert},
    {"Change token name", IDD_CHANGE_TOKEN_NAME, true, {}},
    {"Option", IDD_OPTION, true, {}},
    {"System Device Info", IDD_DEVICE_INFO, true, {}},
    {"Important", IDD_IMPORTANT, true, {}},
    {"Important (English layout)", IDD_IMPORTANT_ENGLISH, true, {}},
    {"Change User PIN", IDD_CHANGE_PIN, true, FillChangePin},
    {"erase question", IDD_ERASE_CONFIRM, false, FillErase},
};

std::vector<WORD> commands;  // what the dialog was told, in order

INT_PTR CALLBACK PlainDialogProc(HWND, UINT msg, WPARAM wp, LPARAM) {
  if (msg == WM_COMMAND && HIWORD(wp) == BN_CLICKED) commands.push_back(LOWORD(wp));
  return msg == WM_INITDIALOG;
}

template <typename... Args>
std::string Fmt(const char* format, Args... args) {
  char buf[512];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
}

std::string ClassOf(HWND w) {
  char cls[64] = {};
  ::GetClassNameA(w, cls, 64);
  return cls;
}

std::wstring Text(HWND w) {
  wchar_t buf[1024] = {};
  ::GetWindowTextW(w, buf, 1024);
  return buf;
}

LONG Style(HWND w) { return ::GetWindowLongW(w, GWL_STYLE); }

std::string Name(HWND control) {
  return Fmt("%d (%s \"%s\")", ::GetDlgCtrlID(control), ClassOf(control).c_str(),
             vd::WideToUtf8(Text(control).substr(0, 40)).c_str());
}

RECT ChildRect(HWND dlg, HWND child) {
  RECT r{};
  ::GetWindowRect(child, &r);
  ::MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool IsGroupBox(HWND w) { return ClassOf(w) == "Button" && (Style(w) & BS_TYPEMASK) == BS_GROUPBOX; }

bool Contains(const RECT& outer, const RECT& inner) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

// The room a control's client area leaves its text and the flags it draws the text with; nothing for
// controls whose contents scroll or are no text.
std::optional<std::pair<SIZE, UINT>> TextRoom(HWND control, int dpi) {
  const LONG style = Style(control);
  RECT client{};
  ::GetClientRect(control, &client);
  SIZE room{client.right, client.bottom};
  if (ClassOf(control) == "Static") {
    const LONG kind = style & SS_TYPEMASK;
    if (kind == SS_LEFTNOWORDWRAP || kind == SS_SIMPLE) return std::pair{room, UINT{DT_SINGLELINE}};
    if (kind != SS_LEFT && kind != SS_CENTER && kind != SS_RIGHT) return std::nullopt;  // images, frames, lines
    return std::pair{room, UINT(DT_WORDBREAK | ((style & SS_NOPREFIX) ? DT_NOPREFIX : 0) |
                                ((style & SS_EDITCONTROL) ? DT_EDITCONTROL : 0))};
  }
  if (ClassOf(control) != "Button") return std::nullopt;
  switch (style & BS_TYPEMASK) {
    case BS_GROUPBOX: room.cx -= ::MulDiv(16, dpi, 96); break;  // the caption sits between the corners
    case BS_CHECKBOX: case BS_AUTOCHECKBOX: case BS_RADIOBUTTON: case BS_AUTORADIOBUTTON:
      room.cx -= ::MulDiv(17, dpi, 96);  // the box and the gap before the text
      break;
    default:  // push buttons: the 3-D edges
      room.cx -= 2 * (::GetSystemMetrics(SM_CXEDGE) + 1);
      room.cy -= 2 * (::GetSystemMetrics(SM_CYEDGE) + 1);
  }
  return std::pair{room, UINT((style & BS_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE)};
}

// Every fault of one dialog as it is laid out now, one line each, naming the control and the pixels.
std::vector<std::string> LayoutFaults(HWND dlg, int dpi) {
  std::vector<std::string> faults;
  RECT window{}, client{};
  ::GetWindowRect(dlg, &window);
  ::GetClientRect(dlg, &client);
  const LONG overX = window.right - window.left - kScreenWidth, overY = window.bottom - window.top - kScreenHeight;
  if (overX > 0 || overY > 0)
    faults.push_back(Fmt("the window is %ldx%ld px larger than 1024x768", std::max(0L, overX), std::max(0L, overY)));
  std::vector<HWND> controls;
  for (HWND c = ::GetWindow(dlg, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
    if (Style(c) & WS_VISIBLE) controls.push_back(c);
  for (size_t i = 0; i < controls.size(); ++i) {
    HWND c = controls[i];
    const RECT r = ChildRect(dlg, c);
    if (!Contains(client, r))
      faults.push_back(Fmt("control %s lies %ld px across and %ld px down outside the window", Name(c).c_str(),
                           std::max({0L, client.left - r.left, r.right - client.right}),
                           std::max({0L, client.top - r.top, r.bottom - client.bottom})));
    const std::wstring text = Text(c);
    if (auto room = TextRoom(c, dpi); room && !text.empty()) {
      HDC dc = ::GetDC(c);
      HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(c, WM_GETFONT, 0, 0)));
      RECT need{0, 0, room->first.cx, 0};
      ::DrawTextW(dc, text.c_str(), -1, &need, room->second | DT_CALCRECT | DT_EXPANDTABS);
      ::SelectObject(dc, old);
      ::ReleaseDC(c, dc);
      const LONG missingX = need.right - room->first.cx, missingY = need.bottom - room->first.cy;
      if (missingX > 0 || missingY > 0)
        faults.push_back(Fmt("control %s clips its text by %ld px across and %ld px down", Name(c).c_str(),
                             std::max(0L, missingX), std::max(0L, missingY)));
    }
    for (size_t j = i + 1; j < controls.size(); ++j) {
      const RECT s = ChildRect(dlg, controls[j]);
      RECT overlap{};
      // A group box frames the controls inside it.
      if (!::IntersectRect(&overlap, &r, &s) || (IsGroupBox(c) && Contains(r, s)) ||
          (IsGroupBox(controls[j]) && Contains(s, r)))
        continue;
      faults.push_back(Fmt("controls %s and %s overlap by %ldx%ld px", Name(c).c_str(), Name(controls[j]).c_str(),
                           overlap.right - overlap.left, overlap.bottom - overlap.top));
    }
  }
  return faults;
}

// The key a control's text gives it with Alt ("&x"), lower-cased; 0 for none.
wchar_t Mnemonic(const std::wstring& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == L'&' && text[i + 1] != L'&') return static_cast<wchar_t>(std::towlower(text[i + 1]));
    if (text[i] == L'&') ++i;
  }
  return 0;
}

wchar_t KeyOf(HWND c) {
  return ClassOf(c) == "Static" && (Style(c) & SS_NOPREFIX) ? 0 : Mnemonic(Text(c));
}

// What the keyboard and a screen reader need of a dialog: one control per mnemonic, and before every edit
// in the tab order a control whose text names it.
std::vector<std::string> KeyboardFaults(HWND dlg) {
  std::vector<std::string> faults;
  std::map<wchar_t, HWND> keys;
  HWND previous = nullptr;
  for (HWND c = ::GetWindow(dlg, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
    if (!(Style(c) & WS_VISIBLE)) continue;
    if (const wchar_t key = KeyOf(c); key && !keys.emplace(key, c).second)
      faults.push_back(Fmt("controls %s and %s share a mnemonic", Name(keys[key]).c_str(), Name(c).c_str()));
    if (ClassOf(c) == "Edit" && (!previous || ClassOf(previous) == "Edit" || Text(previous).empty()))
      faults.push_back(Fmt("edit %s has no label before it in the tab order", Name(c).c_str()));
    previous = c;
  }
  return faults;
}

// Types keys into the shown dialog as a person would and pumps its messages, dialog keys included, until
// `done` holds.
bool Keys(HWND dlg, const std::vector<sectest::KeyEvent>& keys, const std::function<bool()>& done) {
  sectest::SendKeys(keys);
  const DWORD start = ::GetTickCount();
  MSG msg;
  while (!done() && ::GetTickCount() - start < 2000) {
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      if (!::IsDialogMessageW(dlg, &msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return done();
}

bool IsPushButton(HWND w) { return ClassOf(w) == "Button" && (Style(w) & BS_TYPEMASK) <= BS_DEFPUSHBUTTON; }

// The dialog from the keyboard alone: Tab reaches every enabled tab stop in reading order and shows the
// focus; each mnemonic presses its button or moves to the field its label names; Enter does what the
// default button does, Escape what Cancel does.
std::vector<std::string> KeyWalkFaults(HWND dlg) {
  std::vector<std::string> faults;
  std::vector<HWND> stops;
  for (HWND c = ::GetWindow(dlg, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
    if ((Style(c) & (WS_VISIBLE | WS_TABSTOP | WS_DISABLED)) == (WS_VISIBLE | WS_TABSTOP)) stops.push_back(c);
  for (size_t i = 1; i < stops.size(); ++i) {
    const RECT a = ChildRect(dlg, stops[i - 1]), b = ChildRect(dlg, stops[i]);
    if (b.top < a.bottom && b.bottom > a.top ? b.left < a.left : b.top < a.top)
      faults.push_back(Fmt("Tab goes from %s back to %s", Name(stops[i - 1]).c_str(), Name(stops[i]).c_str()));
  }
  ::SetForegroundWindow(dlg);
  ::SetFocus(stops.empty() ? dlg : stops.front());
  for (size_t i = 1; i <= stops.size(); ++i) {
    HWND want = stops[i % stops.size()];
    if (!Keys(dlg, sectest::Tap(VK_TAB), [&] { return ::GetFocus() == want; }))
      faults.push_back(Fmt("Tab does not reach %s", Name(want).c_str()));
  }
  if (::SendMessageW(dlg, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) faults.push_back("the focus is not shown");
  for (HWND c = ::GetWindow(dlg, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
    const wchar_t key = (Style(c) & WS_VISIBLE) && ::IsWindowEnabled(c) ? KeyOf(c) : 0;
    if (!key || key < L'a' || key > L'z') continue;
    HWND next = ::GetNextDlgTabItem(dlg, c, FALSE);
    const bool isButton = ClassOf(c) == "Button" && !IsGroupBox(c);
    commands.clear();
    if (!Keys(dlg, sectest::Chord({VK_MENU}, static_cast<WORD>(std::towupper(key))), [&] {
          return isButton ? !commands.empty() && commands.back() == ::GetDlgCtrlID(c) : ::GetFocus() == next;
        }))
      faults.push_back(Fmt("Alt+%c does not reach %s", static_cast<char>(key), Name(c).c_str()));
  }
  // From the first field, as the dialog opens.
  if (!stops.empty()) ::SendMessageW(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(stops.front()), TRUE);
  for (const auto& [vk, name] : {std::pair{VK_RETURN, "Enter"}, std::pair{VK_ESCAPE, "Escape"}}) {
    HWND focus = ::GetFocus();
    const WORD want = vk == VK_ESCAPE ? IDCANCEL
                      : focus && IsPushButton(focus) ? static_cast<WORD>(::GetDlgCtrlID(focus))
                                                     : LOWORD(::SendMessageW(dlg, DM_GETDEFID, 0, 0));
    commands.clear();
    if (!Keys(dlg, sectest::Tap(static_cast<WORD>(vk)), [&] { return !commands.empty(); }) || commands.back() != want)
      faults.push_back(Fmt("%s does not press button %d (%d)", name, want, commands.empty() ? 0 : commands.back()));
  }
  return faults;
}

void UseShippedLanguage(int languageId) {
  auto& lang = vd::LanguageManager::Instance();
  lang.SetLanguageBaseName(vd::kProduct.langBaseName);
  lang.SetLanguageDirectory(vd::LanguageDirectory(L"", vdtest::BinDir() + L"ui_accessibility_test.exe"));
  lang.SetLanguageId(languageId);
}

// The child's part: every window in every language at the DPI this process was started with.
TEST(LayoutAtDpi, EveryWindowInEveryLanguage) {
  wchar_t value[16] = {};
  if (!::GetEnvironmentVariableW(L"VD_LAYOUT_DPI", value, 16)) GTEST_SKIP() << "runs as the child of LayoutTest";
  const int dpi = _wtoi(value);
  HDC screen = ::GetDC(nullptr);
  const int actual = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  ASSERT_EQ(actual, dpi) << "the prefix's LogPixels did not reach this process";
  HINSTANCE module = ::GetModuleHandleW(nullptr);
  for (int language : vdtest::kShippedLanguages) {
    UseShippedLanguage(language);
    ASSERT_EQ(vd::LanguageManager::Instance().GetLanguageId(), language) << "the shipped file did not load";
    for (const WindowCase& w : kWindows) {
      HWND dlg = ::CreateDialogParamW(module, MAKEINTRESOURCEW(w.templateId), nullptr, PlainDialogProc, 0);
      ASSERT_TRUE(dlg) << w.name;
      if (w.translated) vd::TranslateDialog(dlg, w.templateId);
      if (w.fill) w.fill(dlg);
      std::vector<std::string> faults = LayoutFaults(dlg, dpi);
      if (dpi == kDpis[0]) {
        ::SetWindowPos(dlg, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        for (auto* check : {KeyboardFaults, KeyWalkFaults})
          for (std::string& fault : check(dlg)) faults.push_back(std::move(fault));
      }
      for (const std::string& fault : faults)
        ADD_FAILURE() << w.name << ", language " << language << ", " << dpi << " DPI: " << fault;
      // The main window and the PIN dialog, for a person to look at.
      if ((w.templateId == IDD_CERTMANAGER || w.templateId == IDD_CHANGE_PIN) && dpi != 144) {
        ::SetWindowPos(dlg, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        ::RedrawWindow(dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        const std::wstring file = std::wstring(L"layout_") + (w.templateId == IDD_CERTMANAGER ? L"main" : L"pin") +
                                  (language == 2052 ? L"_zh_" : L"_en_") + std::to_wstring(dpi) + L"dpi.png";
        EXPECT_TRUE(vdtest::SaveWindowPng(dlg, file)) << vd::WideToUtf8(file);
      }
      ::DestroyWindow(dlg);
    }
  }
}

// Sets the prefix's LogPixels for the processes started meanwhile; puts back what was there.
class ScopedLogPixels {
 public:
  explicit ScopedLogPixels(int dpi) : previous_(vd::RegReadDword(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels")) {
    vd::RegWriteDword(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", static_cast<DWORD>(dpi));
  }
  ~ScopedLogPixels() {
    if (previous_) {
      vd::RegWriteDword(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", *previous_);
    } else {
      HKEY key = nullptr;
      if (::RegOpenKeyExW(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        ::RegDeleteValueW(key, L"LogPixels");
        ::RegCloseKey(key);
      }
    }
  }
  ScopedLogPixels(const ScopedLogPixels&) = delete;
  ScopedLogPixels& operator=(const ScopedLogPixels&) = delete;

 private:
  std::optional<DWORD> previous_;
};

TEST(LayoutTest, EveryWindowFitsItsTextsAtEveryDpi) {
  if (::GetEnvironmentVariableW(L"VD_LAYOUT_DPI", nullptr, 0)) GTEST_SKIP() << "the child runs LayoutAtDpi only";
  for (int dpi : kDpis) {
    ScopedLogPixels logPixels(dpi);
    ::SetEnvironmentVariableW(L"VD_LAYOUT_DPI", std::to_wstring(dpi).c_str());
    const vdtest::ProcessResult child = vdtest::RunTool(
        L"ui_accessibility_test.exe", L"--gtest_color=no --gtest_filter=LayoutAtDpi.*", 120000);
    ::SetEnvironmentVariableW(L"VD_LAYOUT_DPI", nullptr);
    EXPECT_EQ(child.exitCode, 0u) << dpi << " DPI:\n" << child.out << child.err;
  }
}

}  // namespace
