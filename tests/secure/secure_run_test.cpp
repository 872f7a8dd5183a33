// The change-PIN dialog on its isolated desktop: where its threads run, what it leaves behind, how it
// ends, and that the caller keeps answering its own window meanwhile. Wine's SwitchDesktop does not
// change the input desktop, so what the user would see switch is not observable here.
#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <string>
#include <thread>

#include "desktop_platform.h"
#include "dialog_script.h"
#include "key_input.h"
#include "keyboard_guard.h"
#include "pin_strings.h"
#include "scoped_language.h"
#include "screenshot.h"
#include "secure_ids.h"
#include "secure_pin_run.h"
#include "testsupport.h"
#include "text.h"
#include "token_dialogs.h"

namespace {

using namespace sectest;

std::wstring DesktopName(HDESK desk) {
  wchar_t name[256] = {};
  DWORD needed = 0;
  if (!desk || !::GetUserObjectInformationW(desk, UOI_NAME, name, sizeof name, &needed)) return L"?";
  return name;
}

std::wstring ThreadDesktopName(DWORD thread) { return DesktopName(::GetThreadDesktop(thread)); }

class SecureRunTest : public ::testing::Test {
 protected:
  vdtest::ScopedLanguage english_{L""};
};

TEST_F(SecureRunTest, BothDialogThreadsRunOnAFreshIsolatedDesktop) {
  const std::wstring home = ThreadDesktopName(::GetCurrentThreadId());
  std::wstring names[2];
  for (std::wstring& name : names) {
    std::wstring backgroundDesktop, label;
    int limit = 0;
    LONG_PTR backgroundExStyle = 0;
    RECT backgroundRect{};
    bool guardDuring = false;
    DialogScript script([&](HWND d) {
      const DWORD dialogThread = ::GetWindowThreadProcessId(d, nullptr);
      name = ThreadDesktopName(dialogThread);
      struct Found {
        DWORD dialogThread;
        HWND background;
      } found{dialogThread, nullptr};
      // The background is the other visible top-level window of the dialog's desktop.
      OnDialogsDesktop(d, [&] {
        ::EnumWindows(
          [](HWND w, LPARAM p) -> BOOL {
            auto* f = reinterpret_cast<Found*>(p);
            if (::GetWindowThreadProcessId(w, nullptr) != f->dialogThread && ::IsWindowVisible(w)) {
              f->background = w;
              return FALSE;
            }
            return TRUE;
          },
          reinterpret_cast<LPARAM>(&found));
      });
      if (found.background) {
        backgroundDesktop = ThreadDesktopName(::GetWindowThreadProcessId(found.background, nullptr));
        backgroundExStyle = ::GetWindowLongPtrW(found.background, GWL_EXSTYLE);
        ::GetWindowRect(found.background, &backgroundRect);
      }
      label = TextOf(::GetDlgItem(d, IDC_NEW_PIN_LABEL));
      limit = static_cast<int>(::SendDlgItemMessageW(d, IDC_NEW_PIN, EM_GETLIMITTEXT, 0, 0));
      guardDuring = vd::KeyboardGuardInstalled();
      Settle(150);
      if (&name == &names[0]) vdtest::SaveScreenPng(L"pin_dialog_isolated.png");
      Click(d, IDCANCEL);
    });
    vd::SecureRunResult r = vd::RunSecurePinDialog(8, 8, &script.Watch());
    script.Join();
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(name.rfind(L"Brindlemark-" + std::to_wstring(::GetCurrentProcessId()) + L"-", 0), 0u)
        << vd::WideToUtf8(name);
    EXPECT_NE(name, home);
    EXPECT_EQ(backgroundDesktop, name) << "the background runs on the same isolated desktop";
    EXPECT_TRUE(backgroundExStyle & WS_EX_TOOLWINDOW);
    EXPECT_TRUE(backgroundExStyle & WS_EX_NOACTIVATE);
    EXPECT_FALSE(backgroundExStyle & WS_EX_APPWINDOW);
    EXPECT_EQ(backgroundRect.right - backgroundRect.left, ::GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(backgroundRect.bottom - backgroundRect.top, ::GetSystemMetrics(SM_CYSCREEN));
    // On the isolated desktop the label shows the edits' own limit: equal lengths leave room for one more.
    EXPECT_EQ(label, L"New PIN(8 to 9 characters):");
    EXPECT_EQ(limit, 9);
    EXPECT_TRUE(guardDuring);
    EXPECT_FALSE(vd::KeyboardGuardInstalled());
    EXPECT_EQ(script.OpenedOnThread(), ::GetCurrentThreadId()) << "the watch is told on the caller's thread";
    EXPECT_NE(script.DialogThread(), ::GetCurrentThreadId());
    EXPECT_EQ(script.Closed(), 1);
    EXPECT_EQ(ThreadDesktopName(::GetCurrentThreadId()), home);
  }
  EXPECT_NE(names[0], names[1]) << "each run has a desktop of its own";
}

TEST_F(SecureRunTest, AcceptedPinsReachTheCallerThroughTheRunsStrings) {
  DialogScript script([&](HWND d) {
    Type(d, IDC_OLD_PIN, L"old123");
    Type(d, IDC_NEW_PIN, L"new456");
    Type(d, IDC_CONFIRM_PIN, L"new456");
    Settle();
    Click(d, IDOK);
  });
  vd::SecureRunResult r = vd::RunSecurePinDialog(6, 12, &script.Watch());
  script.Join();
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(vd::SecureRunOldPin(), L"old123");
  EXPECT_EQ(vd::SecureRunNewPin(), L"new456");
  vd::WipeSecureRunPins();
  EXPECT_TRUE(vd::SecureRunOldPin().empty());
}

TEST_F(SecureRunTest, WaysToEnd) {
  struct Row {
    const char* name;
    void (*end)(HWND);
    INT_PTR result;
  };
  const Row rows[] = {
      {"Ctrl+Alt+Del",
       [](HWND d) { OnDialogsDesktop(d, [] { SendKeys(Chord({VK_CONTROL, VK_MENU}, VK_DELETE)); }); }, 2},
      {"Win+L", [](HWND d) { OnDialogsDesktop(d, [] { SendKeys(Chord({VK_LWIN}, 'L')); }); }, 2},
      {"Escape", [](HWND d) { OnDialogsDesktop(d, [] { SendKeys(Tap(VK_ESCAPE)); }); }, 2},
      {"the token pulled", [](HWND d) { ::PostMessageW(d, vd::kTokenRemovedMessage, 0, 0); }, vd::kTokenRemovedResult},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DialogScript script([&](HWND d) {
      Type(d, IDC_OLD_PIN, L"abc");
      Settle(150);
      row.end(d);
    });
    vd::SecureRunResult r = vd::RunSecurePinDialog(6, 12, &script.Watch());
    script.Join();
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.result, row.result);
    EXPECT_TRUE(vd::SecureRunOldPin().empty());
  }
}

TEST_F(SecureRunTest, KeysTypedOnTheIsolatedDesktopGoThroughTheHook) {
  std::wstring shown;
  DialogScript script([&](HWND d) {
    Settle(150);
    OnDialogsDesktop(d, [] { SendKeys(Tap('A') + Tap('B') + Tap('C') + Tap('1') + Tap('2') + Tap('3')); });
    Settle();
    shown = TextOf(::GetDlgItem(d, IDC_OLD_PIN));
    Type(d, IDC_NEW_PIN, L"new456");
    Type(d, IDC_CONFIRM_PIN, L"new456");
    Settle();
    Click(d, IDOK);
  });
  vd::SecureRunResult r = vd::RunSecurePinDialog(6, 12, &script.Watch());
  script.Join();
  EXPECT_EQ(shown, L"******");
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(vd::SecureRunOldPin(), L"abc123");
  vd::WipeSecureRunPins();
}

TEST_F(SecureRunTest, RulesAndSoftKeyboardOnTheIsolatedDesktop) {
  std::wstring message;
  DWORD boxThread = 0, dialogThread = 0;
  DialogScript script([&](HWND d) {
    dialogThread = ::GetWindowThreadProcessId(d, nullptr);
    Click(d, IDC_SOFT_KEYBOARD);
    Settle(200);
    vdtest::SaveScreenPng(L"pin_dialog_isolated_soft_keyboard.png");
    Click(d, IDC_SOFT_KEYBOARD);
    Type(d, IDC_OLD_PIN, L"old123");
    Type(d, IDC_NEW_PIN, L"246802");
    Type(d, IDC_CONFIRM_PIN, L"246802");
    Settle();
    Click(d, IDOK);
    if (HWND box = WaitForMessageBox(d)) {
      boxThread = ::GetWindowThreadProcessId(box, nullptr);
      message = vdtest::StaticTexts(box);
      Settle(150);
      vdtest::SaveScreenPng(L"pin_message_isolated_default.png");
      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
      WaitGone(box);
    }
    Click(d, IDCANCEL);
  });
  vd::SecureRunResult r = vd::RunSecurePinDialog(6, 12, &script.Watch());
  script.Join();
  EXPECT_EQ(r.result, 2);
  EXPECT_EQ(message, L"Please do NOT use the default PIN as new PIN!");
  EXPECT_EQ(boxThread, dialogThread);
}

// The caller's own window must keep answering while the dialog is open: the main window handles the
// token's removal in that time.
TEST_F(SecureRunTest, TheCallerKeepsDispatchingItsMessages) {
  static std::atomic<int> ticks{0};
  ticks = 0;
  HWND own = ::CreateWindowExW(0, L"STATIC", L"caller", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(own);
  UINT_PTR timer = ::SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) { ++ticks; });
  bool answered = false;
  DialogScript script([&](HWND d) {
    DWORD_PTR reply = 0;
    answered = ::SendMessageTimeoutW(own, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 3000, &reply) != 0 && reply == 6;
    Settle(300);
    Click(d, IDCANCEL);
  });
  vd::SecureRunResult r = vd::RunSecurePinDialog(6, 12, &script.Watch());
  script.Join();
  ::KillTimer(nullptr, timer);
  ::DestroyWindow(own);
  EXPECT_TRUE(r.started);
  EXPECT_TRUE(answered);
  EXPECT_GT(ticks.load(), 3);
}

std::wstring DaclText(HDESK desk) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  PACL dacl = nullptr;
  if (::GetSecurityInfo(desk, SE_WINDOW_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd) !=
      ERROR_SUCCESS)
    return L"unreadable";
  LPWSTR text = nullptr;
  std::wstring out;
  if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                             nullptr)) {
    out = text;
    ::LocalFree(text);
  }
  ::LocalFree(sd);
  return out;
}

struct Accessibility {
  STICKYKEYS sticky{sizeof(STICKYKEYS), 0};
  TOGGLEKEYS toggle{sizeof(TOGGLEKEYS), 0};
  FILTERKEYS filter{sizeof(FILTERKEYS), 0, 0, 0, 0, 0};
  void Read() {
    ::SystemParametersInfoW(SPI_GETSTICKYKEYS, sizeof sticky, &sticky, 0);
    ::SystemParametersInfoW(SPI_GETTOGGLEKEYS, sizeof toggle, &toggle, 0);
    ::SystemParametersInfoW(SPI_GETFILTERKEYS, sizeof filter, &filter, 0);
  }
  bool operator==(const Accessibility& o) const {
    return sticky.dwFlags == o.sticky.dwFlags && toggle.dwFlags == o.toggle.dwFlags &&
           filter.dwFlags == o.filter.dwFlags && filter.iWaitMSec == o.filter.iWaitMSec &&
           filter.iDelayMSec == o.filter.iDelayMSec;
  }
};

TEST_F(SecureRunTest, TheHomeDesktopIsAsBeforeAfterARun) {
  HDESK home = ::OpenDesktopW(L"Default", 0, FALSE, READ_CONTROL);
  const std::wstring daclBefore = home ? DaclText(home) : L"no handle";
  Accessibility before, after;
  before.Read();
  for (bool cancelled : {true, false}) {
    DialogScript script([&](HWND d) {
      if (cancelled) {
        ::PostMessageW(d, WM_CLOSE, 0, 0);
        return;
      }
      Type(d, IDC_OLD_PIN, L"old123");
      Type(d, IDC_NEW_PIN, L"new456");
      Type(d, IDC_CONFIRM_PIN, L"new456");
      Settle();
      Click(d, IDOK);
    });
    EXPECT_TRUE(vd::RunSecurePinDialog(6, 12, &script.Watch()).started);
    script.Join();
    vd::WipeSecureRunPins();
  }
  after.Read();
  EXPECT_TRUE(before == after);
  EXPECT_EQ(home ? DaclText(home) : L"no handle", daclBefore);
  if (home) ::CloseDesktop(home);
}

BOOL WINAPI RefuseSwitch(HDESK) { return FALSE; }

TEST_F(SecureRunTest, AFailedSwitchDoesNotStartTheRun) {
  const vd::DesktopPlatform saved = vd::SecureDesktopPlatform();
  vd::SecureDesktopPlatform().switchDesktop = RefuseSwitch;
  DialogScript script([](HWND d) { ::PostMessageW(d, WM_CLOSE, 0, 0); });
  vd::SecureRunResult r = vd::RunSecurePinDialog(6, 12, &script.Watch());
  vd::SecureDesktopPlatform() = saved;
  EXPECT_FALSE(r.started);
  EXPECT_EQ(script.Opened(), 0) << "no dialog was shown";
  EXPECT_FALSE(vd::KeyboardGuardInstalled());
}

}  // namespace
