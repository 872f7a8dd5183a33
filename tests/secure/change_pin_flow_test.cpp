// Changing a token's PIN end to end against the simulated module loaded in this process: what reaches the
// token on each path, and what never does (a cancel, a pulled token).
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "change_user_pin.h"
#include "desktop_platform.h"
#include "dialog_script.h"
#include "module_fixture.h"
#include "scoped_language.h"
#include "secure_ids.h"
#include "token_dialogs.h"

namespace {

using namespace sectest;

// The module's table with the two calls that touch the PIN counted.
CK_FUNCTION_LIST* g_real = nullptr;
std::atomic<int> g_opens{0}, g_setPins{0};
CK_RV CountingOpen(CK_SLOT_ID slot, CK_FLAGS flags, void* app, CK_NOTIFY notify, CK_SESSION_HANDLE* session) {
  ++g_opens;
  return g_real->C_OpenSession(slot, flags, app, notify, session);
}
CK_RV CountingSetPin(CK_SESSION_HANDLE s, CK_UTF8CHAR* o, CK_ULONG ol, CK_UTF8CHAR* n, CK_ULONG nl) {
  ++g_setPins;
  return g_real->C_SetPIN(s, o, ol, n, nl);
}

BOOL WINAPI RefuseSwitch(HDESK) { return FALSE; }

class ChangePinFlowTest : public simtest::ModuleTest {
 protected:
  void SetUp() override {
    simtest::ModuleTest::SetUp();
    g_real = m.f;
    counted_ = *m.f;
    counted_.C_OpenSession = CountingOpen;
    counted_.C_SetPIN = CountingSetPin;
    g_opens = 0;
    g_setPins = 0;
    vd::SetPinDialogModule(::GetModuleHandleW(nullptr));
  }

  CK_RV Change(DialogScript& script, bool forced) {
    CK_RV rv = vd::ChangeUserPin(&counted_, 1, forced, script.Watch());
    script.Join();
    return rv;
  }

  // A C_SetPIN of the PIN to itself: CKR_OK only for the token's PIN (a wrong one costs a try).
  CK_RV Accepts(const char* pin) {
    CK_SESSION_HANDLE s = Open(1);
    CK_RV rv = m.f->C_SetPIN(s, reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(pin)), strlen(pin),
                             reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(pin)), strlen(pin));
    m.f->C_CloseSession(s);
    return rv;
  }

  int TriesLeft() {
    CK_BYTE out[4] = {};
    return m.aux->getPinInfo(1, out) == CKR_OK ? out[3] : -1;
  }

  CK_FUNCTION_LIST counted_{};
  vdtest::ScopedLanguage english_{L""};
};

// Types the three PINs and presses OK.
std::function<void(HWND)> Enter(const wchar_t* oldPin, const wchar_t* newPin) {
  return [=](HWND d) {
    Type(d, IDC_OLD_PIN, oldPin);
    Type(d, IDC_NEW_PIN, newPin);
    Type(d, IDC_CONFIRM_PIN, newPin);
    Settle();
    Click(d, IDOK);
  };
}

TEST_F(ChangePinFlowTest, OutcomesOnBothPaths) {
  struct Row {
    const char* name;
    int tries;
    bool forced;
    const wchar_t* oldPin;
    CK_RV rv;
    int triesAfter;
  };
  const Row rows[] = {
      {"success on the isolated desktop", 6, false, L"123456", CKR_OK, 6},
      {"success forced, on the plain path", 6, true, L"123456", CKR_OK, 6},
      {"wrong old PIN with 5 tries left", 5, false, L"654321", CKR_PIN_INCORRECT, 4},
      {"wrong old PIN with 1 try left", 1, true, L"654321", CKR_PIN_INCORRECT, 0},
      {"no tries left: locked", 0, false, L"123456", CKR_PIN_LOCKED, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    simtest::Ctl(L"insert 1 --pin 123456 --tries " + std::to_wstring(r.tries));
    DialogScript script(Enter(r.oldPin, L"abc789"));
    EXPECT_EQ(Change(script, r.forced), r.rv);
    EXPECT_EQ(g_setPins.exchange(0), 1);
    g_opens = 0;
    EXPECT_EQ(script.DialogThread() == ::GetCurrentThreadId(), r.forced) << "forced changes never go isolated";
    EXPECT_EQ(TriesLeft(), r.triesAfter);
    if (r.rv == CKR_OK) {
      EXPECT_EQ(Accepts("abc789"), CKR_OK);
      EXPECT_EQ(Accepts("123456"), CKR_PIN_INCORRECT);
    } else if (r.triesAfter > 0) {
      EXPECT_EQ(Accepts("123456"), CKR_OK) << "the token keeps its PIN";
    }
    simtest::Ctl(L"remove 1");
  }
}

TEST_F(ChangePinFlowTest, NothingReachesTheTokenWithoutAnAcceptedPin) {
  struct Row {
    const char* name;
    bool forced;
    bool pullToken;
    std::function<void(HWND)> end;
    CK_RV rv;
    int opens;
  };
  const Row rows[] = {
      {"cancel on the isolated desktop", false, false, [](HWND d) { Click(d, IDCANCEL); }, 1, 0},
      {"cancel on the plain path", true, false, [](HWND d) { ::PostMessageW(d, WM_CLOSE, 0, 0); }, 1, 0},
      {"token pulled, isolated", false, true, [](HWND d) { ::PostMessageW(d, vd::kTokenRemovedMessage, 0, 0); },
       CKR_DEVICE_REMOVED, 0},
      {"token pulled, plain", true, true, [](HWND d) { ::PostMessageW(d, vd::kTokenRemovedMessage, 0, 0); },
       CKR_DEVICE_REMOVED, 0},
      // Pulled but the window did not end the dialog in time: the module itself refuses the session.
      {"token pulled, OK pressed anyway", false, true, Enter(L"123456", L"abc789"), CKR_DEVICE_REMOVED, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    simtest::Ctl(L"insert 1 --pin 123456");
    DialogScript script([&](HWND d) {
      Type(d, IDC_OLD_PIN, L"123456");
      if (r.pullToken) simtest::Ctl(L"remove 1");
      r.end(d);
    });
    EXPECT_EQ(Change(script, r.forced), r.rv);
    EXPECT_EQ(g_opens.exchange(0), r.opens);
    EXPECT_EQ(g_setPins.exchange(0), 0);
    EXPECT_EQ(script.Opened(), 1);
    EXPECT_EQ(script.Closed(), 1);
    if (!r.pullToken) {
      EXPECT_EQ(Accepts("123456"), CKR_OK);
      simtest::Ctl(L"remove 1");
    }
  }
}

TEST_F(ChangePinFlowTest, AFailedDesktopSwitchFallsBackToThePlainDialogWithTheSameRules) {
  simtest::Ctl(L"insert 1 --pin 123456");
  const vd::DesktopPlatform saved = vd::SecureDesktopPlatform();
  vd::SecureDesktopPlatform().switchDesktop = RefuseSwitch;
  std::wstring message;
  DialogScript script([&](HWND d) {
    Type(d, IDC_OLD_PIN, L"123456");
    Type(d, IDC_NEW_PIN, L"abc789");
    Type(d, IDC_CONFIRM_PIN, L"abc788");
    Settle();
    Click(d, IDOK);
    if (HWND box = WaitForMessageBox(d)) {
      message = vdtest::StaticTexts(box);
      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
      WaitGone(box);
    }
    Enter(L"", L"abc789")(d);
  });
  CK_RV rv = Change(script, false);
  vd::SecureDesktopPlatform() = saved;
  EXPECT_EQ(rv, CKR_OK);
  EXPECT_EQ(script.DialogThread(), ::GetCurrentThreadId());
  EXPECT_EQ(message, L"The new and confirm password do not match, please try again.");
  EXPECT_EQ(Accepts("abc789"), CKR_OK);
}

TEST_F(ChangePinFlowTest, AFailingTokenInfoIsReturnedWithoutADialog) {
  struct Row {
    const char* name;
    const wchar_t* setup;
    CK_RV rv;
  };
  const Row rows[] = {
      {"no token in the slot", nullptr, CKR_TOKEN_NOT_PRESENT},
      {"the module fails", L"fail C_GetTokenInfo 0x30", CKR_DEVICE_ERROR},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    if (r.setup) {
      simtest::Ctl(L"insert 1");
      // The module takes up injected faults when it initialises.
      m.f->C_Finalize(nullptr);
      simtest::Ctl(r.setup);
      ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
    }
    DialogScript script([](HWND d) { ::PostMessageW(d, WM_CLOSE, 0, 0); });
    EXPECT_EQ(vd::ChangeUserPin(&counted_, 1, false, script.Watch()), r.rv);
    EXPECT_EQ(script.Opened(), 0);
    if (r.setup) {
      m.f->C_Finalize(nullptr);
      simtest::Ctl(L"fail --clear");
      ASSERT_EQ(m.f->C_Initialize(nullptr), CKR_OK);
      simtest::Ctl(L"remove 1");
    }
  }
  EXPECT_EQ(vd::ChangeUserPin(nullptr, 1, false, vd::PinDialogWatch{}), CKR_GENERAL_ERROR);
}

}  // namespace
