// The window's change-PIN command: the message for each result, and the forced change of a token that
// demands a new PIN, through the real window, token manager and simulated token.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cert_manager_dlg.h"
#include "dialog_script.h"
#include "expiry_dialog.h"
#include "pin_command.h"
#include "scoped_language.h"
#include "screenshot.h"
#include "secure_ids.h"
#include "testsupport.h"
#include "text.h"
#include "product.h"
#include "store_registrar.h"
#include "window_gate.h"

namespace {

TEST(PinChangeMessage, OneMessageForEachResult) {
  vdtest::ScopedLanguage english(L"");
  struct Row {
    CK_RV result;
    CK_RV infoResult;  // what reading the tries answers
    CK_BYTE triesLeft;
    const wchar_t* text;
  } rows[] = {
      {1, CKR_OK, 0, L""},
      {CKR_OK, CKR_OK, 0, L"Change user PIN successfully!"},
      {CKR_DEVICE_REMOVED, CKR_OK, 0, L"The token has been removed."},
      {CKR_PIN_LOCKED, CKR_OK, 3, L"This token has been blocked! Contact your administrator to unblock it."},
      {CKR_PIN_INCORRECT, CKR_OK, 5, L"Invalid Password!\r\nYou now have 5 Chances"},
      {CKR_PIN_INCORRECT, CKR_OK, 2, L"Invalid Password!\r\nYou now have 2 Chances"},
      {CKR_PIN_INCORRECT, CKR_OK, 1,
       L"Incorrect PIN.\r\nNow it's the last chance to try.\r\nIf the PIN is still incorrect, the token will be locked"},
      {CKR_PIN_INCORRECT, CKR_OK, 0, L"This token has been blocked! Contact your administrator to unblock it."},
      {CKR_PIN_INCORRECT, CKR_DEVICE_ERROR, 0, L"Change User PIN failed!error code:0x00000030"},
      {CKR_PIN_LEN_RANGE, CKR_OK, 0, L"Change user PIN failed!Error code:0x000000a2"},
  };
  for (const Row& r : rows) {
    bool asked = false;
    std::wstring got = vd::PinChangeMessage(r.result, [&](CK_BYTE* out) {
      asked = true;
      out[2] = 6;
      out[3] = r.triesLeft;
      return r.infoResult;
    });
    EXPECT_EQ(got, r.text) << r.result << " " << r.infoResult;
    EXPECT_EQ(asked, r.result == CKR_PIN_INCORRECT) << "the tries are read for a wrong old PIN only";
  }
}

using vdtest::Pump;

HWND FindTopLevel(const wchar_t* title, DWORD timeoutMs) {
  DWORD end = ::GetTickCount() + timeoutMs;
  while (static_cast<int>(end - ::GetTickCount()) > 0) {
    HWND w = ::FindWindowW(L"#32770", title);
    if (w && ::IsWindowVisible(w)) return w;
    ::Sleep(20);
  }
  return nullptr;
}

using vdtest::Tokenctl;

// The window's services over the real token manager and the simulated module, without the start-up's
// pause; `inserted` (when given) turns true when the window announces an insertion.
vd::DialogServices RealServices(bool* inserted = nullptr, vd::ExpiryPrompt expiryPrompt = nullptr) {
  vd::DialogServices services;
  services.gate = std::make_shared<vd::WindowGate>();
  services.tokens = vd::MakeTokenManagerPort(vd::GatedExpiryPrompt(services.gate, std::move(expiryPrompt)));
  services.popups = vd::MakeDefaultPopupPort();
  services.settleDelayMs = 0;
  if (inserted)
    services.notificationObserver = [inserted](const std::wstring& text, int) {
      *inserted |= text == L"USBKey is inserted!";
    };
  return services;
}

// A token issued with "change the PIN at first use": its insertion opens the PIN dialog at once, without
// Cancel; a wrong old PIN says how many tries are left and asks again; a right one changes the PIN.
TEST(ForcedPinChange, AskedAtInsertionAgainAfterAWrongOldPinUntilChanged) {
  vdtest::ScopedSimTokenDir sim;
  vdtest::ScopedLanguage english(L"");
  vd::CertManagerDlg dialog(::RegisterWindowMessageW(L"vardeck-pin-command-test"), RealServices());
  ASSERT_TRUE(dialog.Create(::GetModuleHandleW(nullptr)));
  Pump(1500);

  std::vector<std::wstring> messages;
  std::atomic<bool> done{false};
  std::thread user([&] {
    // First a wrong old PIN, then the right one; each time read the message and answer it.
    for (const wchar_t* oldPin : {L"135799", L"246802"}) {
      HWND pin = FindTopLevel(L"Change User PIN", 20000);
      if (!pin) break;
      EXPECT_FALSE(sectest::Enabled(pin, IDCANCEL)) << "a forced change cannot be cancelled";
      sectest::Type(pin, IDC_OLD_PIN, oldPin);
      sectest::Type(pin, IDC_NEW_PIN, L"Abc12345");
      sectest::Type(pin, IDC_CONFIRM_PIN, L"Abc12345");
      sectest::Settle();
      sectest::Click(pin, IDOK);
      HWND box = FindTopLevel(L"Certificate Manager", 10000);
      if (!box) break;
      messages.push_back(vdtest::StaticTexts(box));
      vdtest::SaveScreenPng(L"pin_result_" + std::to_wstring(messages.size()) + L".png");
      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
      sectest::WaitGone(box);
    }
    done = true;
  });
  Tokenctl(L"insert 1 --pin 246802 --tries 6 --pin-to-be-changed");
  for (DWORD end = ::GetTickCount() + 60000; !done && static_cast<int>(end - ::GetTickCount()) > 0;) Pump(20);
  user.join();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], L"Invalid Password!\r\nYou now have 5 Chances");
  EXPECT_EQ(messages[1], L"Change user PIN successfully!");
  Pump(500);
  EXPECT_EQ(FindTopLevel(L"Change User PIN", 500), nullptr) << "no further prompt once the PIN changed";
  ::DestroyWindow(dialog.hwnd());
}

// A terminate request (what "vardeck -t" broadcasts, as an uninstaller runs it) while the PIN dialog is
// open, then the user's PINs and OK: the window ends once the dialog did, without calling into the module
// it unloads, and the token keeps one of its two PINs.
TEST(PinChangeTerminate, TheWindowEndsOnceThePinDialogDid) {
  struct Row {
    const char* name;
    bool forced;
  } rows[] = {{"a forced change, in the plain dialog", true}, {"the command, on the isolated desktop", false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    vdtest::ScopedSimTokenDir sim;
    vdtest::ScopedLanguage english(L"");
    bool inserted = false;
    const UINT instanceMessage = ::RegisterWindowMessageW(L"vardeck-pin-terminate-test");
    vd::CertManagerDlg dialog(instanceMessage, RealServices(&inserted));
    ASSERT_TRUE(dialog.Create(::GetModuleHandleW(nullptr)));
    Pump(300);
    const HWND window = dialog.hwnd();

    // Inside the dialog's modal loop, as soon as it is open: the request, then the user.
    static struct Script {
      vd::CertManagerDlg* dialog = nullptr;
      HWND window = nullptr;
      UINT instanceMessage = 0;
      std::thread user;
    } script;
    script.dialog = &dialog;
    script.window = window;
    script.instanceMessage = instanceMessage;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR id, DWORD) {
      HWND pin = script.dialog->TokenDialogs().Find(vd::OpenTokenDialogs::Kind::ChangePin, 1);
      if (!pin) return;
      ::KillTimer(nullptr, id);
      ::PostMessageW(script.window, script.instanceMessage, vd::kInstanceTerminate, 0);
      script.user = std::thread([pin] {
        sectest::OnDialogsDesktop(pin, [pin] {
          sectest::Type(pin, IDC_OLD_PIN, L"246802");
          sectest::Type(pin, IDC_NEW_PIN, L"Abc12345");
          sectest::Type(pin, IDC_CONFIRM_PIN, L"Abc12345");
          sectest::Click(pin, IDOK);
        });
      });
    });
    Tokenctl(r.forced ? L"insert 1 --pin 246802 --tries 6 --pin-to-be-changed" : L"insert 1 --pin 246802 --tries 6");
    if (!r.forced) {
      ASSERT_TRUE(vdtest::PumpUntil([&] { return inserted; }, 10000));
      Pump(100);  // the insertion's tree is built
      HWND tree = ::GetDlgItem(window, IDC_CERT_TREE);
      TreeView_SelectItem(tree, TreeView_GetRoot(tree));
      ::PostMessageW(window, WM_COMMAND, IDC_CHANGE_PIN, 0);
    }
    EXPECT_TRUE(vdtest::PumpUntil([&] { return !::IsWindow(window); }, 30000)) << "the window stayed";
    ::KillTimer(nullptr, timer);
    if (script.user.joinable()) script.user.join();
    const DWORD oldPin = vdtest::RunTool(L"host_pin_check.exe", L"1 246802").exitCode;
    const DWORD newPin = oldPin == 0 ? 1 : vdtest::RunTool(L"host_pin_check.exe", L"1 Abc12345").exitCode;
    EXPECT_TRUE(oldPin == 0 || newPin == 0) << "the token knows neither PIN";
  }
}

// A second token, with a certificate that expires in 10 days, plugged in while the PIN dialog is on the
// isolated desktop: its expiry warning waits until the home desktop is back, where the user sees it.
TEST(PinChangeIsolatedRun, TokenEventsWaitForTheSwitchBack) {
  vdtest::ScopedSimTokenDir sim;
  vdtest::ScopedLanguage english(L"");
  Tokenctl(L"insert 2");
  Tokenctl(L"add-cert 2 \"" + vdtest::TestCert(L"expiring.der") + L"\"");
  Tokenctl(L"remove 2");
  static struct Script {
    vd::CertManagerDlg* dialog = nullptr;
    int step = 0;
    bool warnedDuringRun = false;
    bool warned = false;
    bool pinDialogOpenAtWarning = false;
  } script;
  script = {};
  vd::ResetExpiryWarnings();
  bool inserted = false;
  vd::CertManagerDlg dialog(::RegisterWindowMessageW(L"vardeck-isolated-run-test"), RealServices(&inserted, [](int) {
    script.warned = true;
    script.pinDialogOpenAtWarning =
        script.dialog->TokenDialogs().Find(vd::OpenTokenDialogs::Kind::ChangePin, 1) != nullptr;
    return false;
  }));
  script.dialog = &dialog;
  ASSERT_TRUE(dialog.Create(::GetModuleHandleW(nullptr)));
  Tokenctl(L"insert 1 --pin 246802");
  ASSERT_TRUE(vdtest::PumpUntil([&] { return inserted; }, 10000));
  Pump(100);
  HWND tree = ::GetDlgItem(dialog.hwnd(), IDC_CERT_TREE);
  TreeView_SelectItem(tree, TreeView_GetRoot(tree));

  // Inside the run's loop: once the dialog is open, the second token; a while later, Cancel.
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR id, DWORD) {
    HWND pin = script.dialog->TokenDialogs().Find(vd::OpenTokenDialogs::Kind::ChangePin, 1);
    if (!pin) return;
    if (script.step == 0) Tokenctl(L"insert 2");
    // The insertion reaches the window within a few ticks, and is held.
    if (++script.step < 15) return;
    script.warnedDuringRun = script.warned;
    ::KillTimer(nullptr, id);
    ::PostMessageW(pin, WM_COMMAND, IDCANCEL, 0);
  });
  ::PostMessageW(dialog.hwnd(), WM_COMMAND, IDC_CHANGE_PIN, 0);
  EXPECT_TRUE(vdtest::PumpUntil([&] { return script.warned; }, 20000)) << "no warning for the second token";
  ::KillTimer(nullptr, timer);
  EXPECT_GE(script.step, 15) << "the PIN dialog never opened";
  EXPECT_FALSE(script.warnedDuringRun) << "warned while the home desktop was out of sight";
  EXPECT_FALSE(script.pinDialogOpenAtWarning);
  ::DestroyWindow(dialog.hwnd());
}

// MY entries made for the token module's provider, read in this process.
size_t OurMyEntries() {
  vd::UniqueCertStore my(vd::OpenSystemStore(L"MY"));
  size_t n = 0;
  for (PCCERT_CONTEXT c = nullptr; my && (c = ::CertEnumCertificatesInStore(my.get(), c));) {
    DWORD size = 0;
    if (!::CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) continue;
    std::vector<BYTE> buffer(size);
    auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buffer.data());
    if (::CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, info, &size) && info->pwszProvName &&
        vd::kProduct.cspName == std::wstring(info->pwszProvName))
      ++n;
  }
  return n;
}

// A visible dialog of this process other than `except`, on `thread` (the calling thread's desktop only).
HWND VisibleDialogOf(DWORD thread, const wchar_t* title, HWND except = nullptr) {
  struct Search {
    const wchar_t* title;
    HWND except, found;
  } s{title, except, nullptr};
  ::EnumThreadWindows(
      thread,
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        wchar_t cls[16] = {};
        ::GetClassNameW(w, cls, 16);
        if (w == s->except || !::IsWindowVisible(w) || lstrcmpW(cls, L"#32770") != 0) return TRUE;
        if (s->title && sectest::TextOf(w) != s->title) return TRUE;
        s->found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

// "vardeck -t" while each kind of window is open: the request cancels it, nothing opens after it (the
// next warning, the forced dialog, the next round), and the program ends with its MY entries gone.
TEST(TerminateDuringAWindow, EndsTheProgramWithItsEntriesAndOpensNothingMore) {
  enum Kind { kWarning, kForcedDialog, kPinResult, kIsolatedBox, kIsolatedComing };
  struct Row {
    const char* name;
    const wchar_t* insert;
    std::vector<const wchar_t*> certs;
    Kind at;
  } rows[] = {
      {"the first of two expiry warnings", L"", {L"expired.der", L"expiring.der"}, kWarning},
      {"a warning before the forced PIN dialog", L" --pin-to-be-changed", {L"expiring.der"}, kWarning},
      {"the forced change's result after a wrong PIN", L" --pin-to-be-changed", {L"sign.der"}, kPinResult},
      {"the isolated dialog's own message box", L"", {L"sign.der"}, kIsolatedBox},
      {"the isolated run before its dialog is known", L"", {L"sign.der"}, kIsolatedComing},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    vdtest::ScopedSimTokenDir sim;
    vdtest::ScopedLanguage english(L"");
    vd::ResetExpiryWarnings();
    Tokenctl(L"insert 1 --pin 246802 --tries 6" + std::wstring(r.insert));
    for (const wchar_t* c : r.certs) Tokenctl(L"add-cert 1 \"" + vdtest::TestCert(c) + L"\"");
    Tokenctl(L"remove 1");
    bool inserted = false;
    const UINT instanceMessage = ::RegisterWindowMessageW(L"vardeck-terminate-table-test");
    vd::CertManagerDlg dialog(instanceMessage, RealServices(&inserted, vd::ExpiryDialog));
    ASSERT_TRUE(dialog.Create(::GetModuleHandleW(nullptr)));
    const HWND window = dialog.hwnd();
    const DWORD self = ::GetCurrentThreadId();

    // Run on this thread's timer, inside whichever modal loop is open: find the window, act as the user
    // would, terminate once it is there, and note anything that opens afterwards.
    static std::function<void()> tick;
    HWND first = nullptr, pin = nullptr;
    bool terminated = false, openedAfter = false;
    std::atomic<bool> boxShown{false};
    size_t entriesBefore = 0;
    std::thread user;
    DWORD terminatedAt = 0;
    auto terminate = [&](HWND at) {
      terminatedAt = ::GetTickCount();
      first = at;
      entriesBefore = OurMyEntries();
      terminated = true;
      ::PostMessageW(window, instanceMessage, vd::kInstanceTerminate, 0);
    };
    tick = [&] {
      HWND warning = VisibleDialogOf(self, L"Check Cert");
      HWND openPin = dialog.TokenDialogs().Find(vd::OpenTokenDialogs::Kind::ChangePin, 1);
      if (terminated) {
        openedAfter |= (warning && warning != first) || (openPin && openPin != pin && r.at != kIsolatedComing);
        return;
      }
      if (r.at == kWarning && warning) return terminate(warning);
      if (r.at == kIsolatedComing && dialog.Gate().Holding() && !openPin) return terminate(nullptr);
      if (openPin && !pin) {
        pin = openPin;
        const bool mismatch = r.at == kIsolatedBox;
        user = std::thread([openPin, mismatch, &boxShown] {
          sectest::OnDialogsDesktop(openPin, [&] {
            sectest::Type(openPin, IDC_OLD_PIN, mismatch ? L"246802" : L"135799");
            sectest::Type(openPin, IDC_NEW_PIN, L"Abc12345");
            sectest::Type(openPin, IDC_CONFIRM_PIN, mismatch ? L"Abc99999" : L"Abc12345");
            sectest::Settle();
            sectest::Click(openPin, IDOK);
            // The rule's box runs on the PIN dialog's thread, on the isolated desktop.
            if (mismatch && sectest::WaitForMessageBox(openPin, 10000)) boxShown = true;
          });
        });
      }
      if (r.at == kIsolatedBox && boxShown) terminate(pin);
      if (r.at == kPinResult && pin && VisibleDialogOf(self, L"Certificate Manager", window)) terminate(pin);
    };
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) { tick(); });
    Tokenctl(L"insert 1");
    if (r.at == kIsolatedBox || r.at == kIsolatedComing) {
      ASSERT_TRUE(vdtest::PumpUntil([&] { return inserted; }, 10000));
      Pump(100);
      HWND tree = ::GetDlgItem(window, IDC_CERT_TREE);
      TreeView_SelectItem(tree, TreeView_GetRoot(tree));
      ::PostMessageW(window, WM_COMMAND, IDC_CHANGE_PIN, 0);
    }
    EXPECT_TRUE(vdtest::PumpUntil([&] { return terminated && !::IsWindow(window); }, 40000)) << "the window stayed";
    EXPECT_LT(::GetTickCount() - terminatedAt, 15000u);
    ::KillTimer(nullptr, timer);
    if (user.joinable()) user.join();
    EXPECT_TRUE(terminated);
    EXPECT_FALSE(openedAfter) << "a window opened after the request";
    EXPECT_GT(entriesBefore, 0u) << "nothing was filed to take out";
    EXPECT_EQ(OurMyEntries(), 0u);
    Pump(300);
  }
}

// Two tokens that demand new PINs: the second, inserted while the first one's dialog is open, gets its own
// dialog once the first change is done.
TEST(ForcedPinChange, SecondTokenDemandingANewPinGetsItsTurn) {
  vdtest::ScopedSimTokenDir sim;
  vdtest::ScopedLanguage english(L"");
  vd::CertManagerDlg dialog(::RegisterWindowMessageW(L"vardeck-two-forced-test"), RealServices());
  ASSERT_TRUE(dialog.Create(::GetModuleHandleW(nullptr)));
  Pump(300);
  std::vector<unsigned long> changed;
  std::thread user([&] {
    for (int round = 0; round < 2; ++round) {
      HWND pin = FindTopLevel(L"Change User PIN", 20000);
      if (!pin) break;
      if (round == 0) Tokenctl(L"insert 2 --pin 135799 --pin-to-be-changed");
      sectest::Settle(500);  // the second insertion reaches the window while this dialog is open
      const unsigned long key = dialog.TokenDialogs().Find(vd::OpenTokenDialogs::Kind::ChangePin, 1) == pin ? 1 : 2;
      sectest::Type(pin, IDC_OLD_PIN, key == 1 ? L"246802" : L"135799");
      sectest::Type(pin, IDC_NEW_PIN, L"Abc12345");
      sectest::Type(pin, IDC_CONFIRM_PIN, L"Abc12345");
      sectest::Settle();
      sectest::Click(pin, IDOK);
      HWND box = FindTopLevel(L"Certificate Manager", 10000);
      if (!box) break;
      changed.push_back(key);
      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
      sectest::WaitGone(pin);
      sectest::WaitGone(box);
    }
  });
  Tokenctl(L"insert 1 --pin 246802 --pin-to-be-changed");
  vdtest::PumpUntil([&] { return changed.size() == 2; }, 60000);
  user.join();
  EXPECT_EQ(changed, (std::vector<unsigned long>{1, 2}));
  for (const wchar_t* check : {L"1 Abc12345", L"2 Abc12345"})
    EXPECT_EQ(vdtest::RunTool(L"host_pin_check.exe", check).exitCode, 0u) << vd::WideToUtf8(check);
  ::DestroyWindow(dialog.hwnd());
}

// A token pulled while its expiry warning is open is gone when the insertion's work ends: no reminder.
TEST(ExpiryWarning, TokenPulledDuringItGetsNoReminder) {
  vdtest::ScopedSimTokenDir sim;
  vd::ResetExpiryWarnings();
  Tokenctl(L"insert 1");
  Tokenctl(L"add-cert 1 \"" + vdtest::TestCert(L"expiring.der") + L"\"");
  Tokenctl(L"remove 1");
  static bool filed, removed;
  filed = removed = false;
  vd::CertManagerDlg dialog(::RegisterWindowMessageW(L"vardeck-pulled-warning-test"), RealServices(nullptr, [](int) {
    // The pull is handled from within the warning, as its modal loop would: its MY entry goes.
    filed = OurMyEntries() == 1;
    Tokenctl(L"remove 1");
    removed = vdtest::PumpUntil([] { return OurMyEntries() == 0; }, 10000);
    return false;
  }));
  ASSERT_TRUE(dialog.Create(::GetModuleHandleW(nullptr)));
  Tokenctl(L"insert 1");
  ASSERT_TRUE(vdtest::PumpUntil([] { return removed; }, 15000));
  EXPECT_TRUE(filed);
  Pump(100);  // the insertion's handler ends once the warning returned
  EXPECT_EQ(dialog.UsageNotifierCount(), 0u);
  ::DestroyWindow(dialog.hwnd());
}

}  // namespace
