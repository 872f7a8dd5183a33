// The main dialog driven in-process: events posted as the monitor posts them, timers fired, commands sent.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "cert_manager_dlg.h"
#include "dialog_fakes.h"
#include "main_ids.h"
#include "os_version.h"
#include "registry.h"
#include "testsupport.h"
#include "text.h"

namespace {

using vd::CertManagerDlg;
using vdtest::FakePopups;
using vdtest::FakeTokens;

constexpr wchar_t kNotifierKey[] = L"Software\\Kestrova\\Brindlemark_Lumora\\Config\\NotifierTime";

using vdtest::Pump;

using vdtest::PumpUntil;

// The popup menu on screen: menus that were shown before may linger hidden, and come first.
HWND VisibleMenuWindow() {
  HWND found = nullptr;
  ::EnumWindows(
      [](HWND w, LPARAM out) -> BOOL {
        wchar_t cls[16] = {};
        ::GetClassNameW(w, cls, 16);
        if (lstrcmpW(cls, L"#32768") != 0 || !::IsWindowVisible(w)) return TRUE;
        *reinterpret_cast<HWND*>(out) = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

WPARAM Event(unsigned long key, WORD code) { return (static_cast<WPARAM>(key) << 16) | code; }

vd::CertificateView Cert(unsigned long handle, const wchar_t* name, bool registered) {
  return {handle, name, {}, registered};
}

struct Notification {
  std::wstring text;
  int seconds;
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    instanceMessage_ = ::RegisterWindowMessageW(L"vardeck-dialog-test-instance");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kNotifierKey);
  }
  void TearDown() override {
    dialog_.reset();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kNotifierKey);
  }

  // Creates the dialog and lets its start-up timers (200 ms and the PIN check) run. The product's delays
  // are shortened unless a test keeps them (real_).
  void Start(bool waitForTimers = true) {
    vd::DialogServices services;
    services.tokens = std::make_unique<FakeTokens>(&tokens_);
    services.popups = std::make_unique<FakePopups>(&popups_);
    services.settleDelayMs = 0;
    if (!real_) {
      services.pinCheckDelayMs = kPinCheckMs;
      services.trayRemovalDelayMs = kTrayRemovalMs;
      services.insertRetryDelayMs = kRetryMs;
    }
    services.notificationObserver = [this](const std::wstring& text, int seconds) {
      notifications_.push_back({text, seconds});
    };
    dialog_ = std::make_unique<CertManagerDlg>(instanceMessage_, std::move(services));
    ASSERT_TRUE(dialog_->Create(::GetModuleHandleW(nullptr)));
    if (waitForTimers) Pump((real_ ? 1000 : kPinCheckMs) + 100);
  }
  static constexpr UINT kPinCheckMs = 250;
  static constexpr UINT kTrayRemovalMs = 500;
  static constexpr UINT kRetryMs = 100;
  bool real_ = false;
  HWND Hwnd() const { return dialog_->hwnd(); }
  void PostEvent(unsigned long key, WORD code, LPARAM extra = 0) {
    ::PostMessageW(Hwnd(), vd::kTokenEventMessage, Event(key, code), extra);
    Pump(50);
  }
  void FireTimer(UINT_PTR id) { ::SendMessageW(Hwnd(), WM_TIMER, id, 0); }
  bool Enabled(int id) { return ::IsWindowEnabled(::GetDlgItem(Hwnd(), id)) != FALSE; }
  HWND Tree() { return ::GetDlgItem(Hwnd(), IDC_CERT_TREE); }
  std::wstring ItemText(HTREEITEM item) {
    wchar_t buffer[128] = {};
    TVITEMW tv{};
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = item;
    tv.pszText = buffer;
    tv.cchTextMax = 128;
    TreeView_GetItem(Tree(), &tv);
    return buffer;
  }
  // Texts of the tree in order: roots, each followed by its children indented by two blanks.
  std::vector<std::wstring> TreeTexts() {
    std::vector<std::wstring> out;
    for (HTREEITEM r = TreeView_GetRoot(Tree()); r; r = TreeView_GetNextSibling(Tree(), r)) {
      out.push_back(ItemText(r));
      for (HTREEITEM c = TreeView_GetChild(Tree(), r); c; c = TreeView_GetNextSibling(Tree(), c)) {
        out.push_back(L"  " + ItemText(c));
      }
    }
    return out;
  }
  std::vector<unsigned long> KeysOf(const std::string& call) {
    std::vector<unsigned long> keys;
    for (const vdtest::Call& c : tokens_.CallsNamed(call)) keys.push_back(c.key);
    return keys;
  }

  UINT instanceMessage_ = 0;
  FakeTokens::Shared tokens_;
  FakePopups::Shared popups_;
  std::vector<Notification> notifications_;
  std::unique_ptr<CertManagerDlg> dialog_;
};

TEST_F(DialogTest, WithoutTokensNothingIsShownAndOnlyTheSettingButtonsWork) {
  Start();
  EXPECT_FALSE(::IsWindowVisible(Hwnd()));
  EXPECT_FALSE(dialog_->TrayIconShown());
  EXPECT_EQ(TreeTexts(), std::vector<std::wstring>{L"No Certificate"});
  for (int id : {IDC_CHANGE_PIN, IDC_VIEW_CERT, IDC_CHANGE_NAME, IDC_REGISTER_CERT, IDC_UNREGISTER_CERT,
                 IDC_VERIFY_PIN, IDC_INITIALIZE}) {
    EXPECT_FALSE(Enabled(id)) << id;
  }
  EXPECT_TRUE(Enabled(IDC_SET_NOTIFIER));
  EXPECT_TRUE(Enabled(IDC_OPTION));
  EXPECT_TRUE(dialog_->WorkerRunning());
  EXPECT_EQ(KeysOf("Load").size(), 2u) << "initialisation and timer 2 both bind the module";
}

TEST_F(DialogTest, InsertionRegistersNotifiesChecksThePinAndListsTheToken) {
  Start();
  tokens_.Add(4, L"Opalix Token", {Cert(11, L"Alice Signing", true), Cert(12, L"Alice Encryption", false)});
  PostEvent(4, 1);
  EXPECT_EQ(KeysOf("OnTokenInserted"), std::vector<unsigned long>{4});
  EXPECT_TRUE(dialog_->TrayIconShown());
  ASSERT_EQ(notifications_.size(), 1u);
  EXPECT_EQ(notifications_[0].text, L"USBKey is inserted!");
  EXPECT_EQ(notifications_[0].seconds, 10);
  EXPECT_EQ(KeysOf("IsPinChangeRequired"), std::vector<unsigned long>{4});
  EXPECT_EQ(dialog_->UsageNotifierCount(), 1u);
  EXPECT_EQ(TreeTexts(), (std::vector<std::wstring>{L"Opalix Token", L"  Alice Signing", L"  Alice Encryption"}));
  EXPECT_TRUE(Enabled(IDC_CHANGE_PIN));
  EXPECT_TRUE(Enabled(IDC_CHANGE_NAME));
  EXPECT_FALSE(Enabled(IDC_VIEW_CERT));

  // A second insertion report for the same slot keeps its first usage popup.
  PostEvent(4, 1);
  EXPECT_EQ(dialog_->UsageNotifierCount(), 1u);
  EXPECT_EQ(popups_.created, 1u);
}

// A token not listed when the insertion's work ends (not taken up, or pulled meanwhile) has nothing to remind of.
TEST_F(DialogTest, TokenTheManagerDidNotTakeUpGetsNoPopupNotificationOrPinCheck) {
  Start();
  PostEvent(6, 1);
  EXPECT_TRUE(notifications_.empty());
  EXPECT_TRUE(KeysOf("IsPinChangeRequired").empty());
  EXPECT_FALSE(dialog_->TrayIconShown());
  EXPECT_EQ(dialog_->UsageNotifierCount(), 0u);
}

TEST_F(DialogTest, TokenWhoseReadFailsIsReadAgainThenShown) {
  Start();
  tokens_.Add(4, L"Retried");
  tokens_.failedReads = 2;
  PostEvent(4, 1);
  EXPECT_TRUE(notifications_.empty()) << "a token not read is not announced";
  ASSERT_TRUE(PumpUntil([&] { return KeysOf("OnTokenInserted").size() == 3; }, 5000));
  Pump(100);
  ASSERT_EQ(notifications_.size(), 1u);
  EXPECT_EQ(notifications_[0].text, L"USBKey is inserted!");
  EXPECT_TRUE(KeysOf("OnTokenInsertedLast").empty());
  EXPECT_EQ(TreeTexts(), std::vector<std::wstring>{L"Retried"});
  Pump(3 * kRetryMs);
  EXPECT_EQ(KeysOf("OnTokenInserted").size(), 3u) << "no read after the one that succeeded";

  // Failing every time: the reads go on, further apart each time, the later ones told to list what they
  // read; a token listed in part is announced once and read again until it is whole; a pull stops them.
  tokens_.calls.clear();
  tokens_.Add(5, L"Stubborn");
  tokens_.failedReads = 4;
  tokens_.partlyReads = 2;
  const size_t announced = notifications_.size();
  PostEvent(5, 1);
  ASSERT_TRUE(PumpUntil([&] { return tokens_.CallsNamed("OnTokenInsertedLast").size() == 4; }, 20 * kRetryMs * 8));
  const auto reads = tokens_.CallsNamed("OnTokenInserted");
  const auto last = tokens_.CallsNamed("OnTokenInsertedLast");
  ASSERT_EQ(reads.size(), 3u);
  std::vector<DWORD> at;
  for (const auto* calls : {&reads, &last})
    for (const vdtest::Call& c : *calls) at.push_back(c.tick);
  for (size_t i = 2; i < at.size(); ++i)
    EXPECT_GT(at[i] - at[i - 1], (at[i - 1] - at[i - 2]) * 3 / 2) << "read " << i << " came no later than before";
  ASSERT_EQ(notifications_.size(), announced + 1) << "announced once, when first listed in part";
  Pump(2 * (at.back() - at[at.size() - 2]));
  EXPECT_EQ(tokens_.CallsNamed("OnTokenInsertedLast").size(), 4u) << "no read after the whole one";

  tokens_.failedReads = 100;
  tokens_.Add(6, L"Pulled");
  PostEvent(6, 1);
  PostEvent(6, 2);
  size_t before = tokens_.calls.size();
  Pump(3 * kRetryMs);
  EXPECT_EQ(tokens_.calls.size(), before) << "the pulled token is not read again";
}

TEST_F(DialogTest, RetriesLeaveTheTrayAndTheTreeAloneUntilTheTokenIsListed) {
  // A token the start-up read only in part is read again as an insertion's is, without being announced.
  tokens_.Add(3, L"Half read");
  tokens_.unreadAtEnumeration = {3};
  Start(false);
  ASSERT_TRUE(PumpUntil([&] { return KeysOf("OnTokenInserted") == std::vector<unsigned long>{3}; }, 5000));
  EXPECT_TRUE(notifications_.empty());
  tokens_.Remove(3);
  tokens_.unreadAtEnumeration.clear();
  Pump(kPinCheckMs + 100);  // the start-up timers, which rebuild the tree, have run

  // The last token goes while another cannot be read: the tray icon still goes, and the selection stays.
  tokens_.Add(1, L"A", {Cert(11, L"Kept selected", true)});
  PostEvent(1, 1);
  ASSERT_TRUE(dialog_->TrayIconShown());
  tokens_.failedReads = 1000;
  PostEvent(9, 1);  // a token that never reads
  HTREEITEM cert = TreeView_GetChild(Tree(), TreeView_GetRoot(Tree()));
  TreeView_SelectItem(Tree(), cert);
  ASSERT_TRUE(PumpUntil([&] { return KeysOf("OnTokenInserted").size() >= 4; }, 5000));
  EXPECT_EQ(TreeView_GetSelection(Tree()), cert) << "a read that changed nothing rebuilt the tree";
  PostEvent(1, 2);
  EXPECT_TRUE(PumpUntil([&] { return !dialog_->TrayIconShown(); }, 6 * kTrayRemovalMs));
}

TEST_F(DialogTest, TrayIconGoesFiveSecondsAfterTheLastTokenUnlessOneCameBack) {
  Start();
  tokens_.Add(1, L"A");
  tokens_.Add(2, L"B");
  PostEvent(1, 1);
  PostEvent(2, 1);
  ASSERT_EQ(dialog_->UsageNotifierCount(), 2u);

  PostEvent(1, 2);  // one of two: icon and the other token's popup stay
  EXPECT_EQ(notifications_.back().text, L"USBkey is removed!");
  EXPECT_EQ(dialog_->UsageNotifierCount(), 1u);
  Pump(kTrayRemovalMs + 200);
  EXPECT_TRUE(dialog_->TrayIconShown());

  PostEvent(2, 2);  // the last one
  EXPECT_EQ(dialog_->UsageNotifierCount(), 0u);
  EXPECT_EQ(TreeTexts(), std::vector<std::wstring>{L"No Certificate"});
  Pump(kTrayRemovalMs / 2);
  EXPECT_TRUE(dialog_->TrayIconShown());
  tokens_.Add(2, L"B");
  PostEvent(2, 1);  // back within the delay
  Pump(kTrayRemovalMs + 200);
  EXPECT_TRUE(dialog_->TrayIconShown());

  tokens_.Remove(2);  // the manager forgot it already: no removal text
  size_t before = notifications_.size();
  PostEvent(2, 2);
  EXPECT_TRUE(PumpUntil([&] { return !dialog_->TrayIconShown(); }, 4 * kTrayRemovalMs));
  ASSERT_EQ(notifications_.size(), before + 1) << "only the empty text that closes the balloon";
  EXPECT_EQ(notifications_.back().text, L"");

  // The product's own delay: five seconds.
  dialog_.reset();
  real_ = true;
  Start(false);
  tokens_.Add(1, L"A");
  PostEvent(1, 1);
  PostEvent(1, 2);
  const DWORD pulled = ::GetTickCount();
  EXPECT_TRUE(PumpUntil([&] { return !dialog_->TrayIconShown(); }, 8000));
  const DWORD stayed = ::GetTickCount() - pulled;
  EXPECT_GE(stayed, 4900u);
  EXPECT_LT(stayed, 7000u);
}

TEST_F(DialogTest, ObjectEventsBeforeTheWorkerRunOnTheDialogThreadAfterwardsOnTheWorker) {
  tokens_.Add(1, L"A");
  tokens_.eventsAtMonitorStart = {{Event(1, 3), 77}, {Event(1, 4), 78}, {Event(1, 5), 79}};
  Start();
  DWORD dialogThread = ::GetCurrentThreadId();
  auto created = tokens_.CallsNamed("OnObjectCreated");
  auto destroyed = tokens_.CallsNamed("OnObjectDestroyed");
  ASSERT_EQ(created.size(), 1u);
  ASSERT_EQ(destroyed.size(), 1u);
  EXPECT_EQ(created[0].object, 77u);
  EXPECT_EQ(destroyed[0].object, 78u);
  EXPECT_EQ(created[0].thread, dialogThread);
  EXPECT_EQ(destroyed[0].thread, dialogThread);

  PostEvent(1, 3, 90);
  PostEvent(1, 4, 91);
  PostEvent(1, 5, 92);
  ASSERT_TRUE(PumpUntil([&] { return tokens_.CallsNamed("OnObjectDestroyed").size() == 2; }));
  created = tokens_.CallsNamed("OnObjectCreated");
  ASSERT_EQ(created.size(), 2u);
  EXPECT_EQ(created[1].object, 90u);
  EXPECT_EQ(created[1].key, 1u);
  EXPECT_NE(created[1].thread, dialogThread);
  EXPECT_EQ(tokens_.CallsNamed("OnObjectDestroyed")[1].object, 91u);
}

TEST_F(DialogTest, ShutdownWhileTheWorkerIsBusyEndsInOrder) {
  Start();
  tokens_.Add(1, L"A");
  tokens_.objectDelayMs = 400;
  for (LPARAM h = 1; h <= 3; ++h) ::PostMessageW(Hwnd(), vd::kTokenEventMessage, Event(1, 3), h);
  Pump(100);  // the worker is inside the first operation
  DWORD before = ::GetTickCount();
  ::DestroyWindow(Hwnd());
  EXPECT_LT(::GetTickCount() - before, 3000u);
  EXPECT_FALSE(dialog_->WorkerRunning());
  std::vector<std::string> order;
  for (const vdtest::Call& c : tokens_.calls) {
    if (c.what == "PurgeRegistrations" || c.what == "Unload") order.push_back(c.what);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"PurgeRegistrations", "Unload"}));
  EXPECT_LT(tokens_.CallsNamed("OnObjectCreated").size(), 3u) << "the worker stops between operations";
}

TEST_F(DialogTest, IgnoredEventCodesChangeNothing) {
  tokens_.Add(1, L"A");
  Start();
  size_t callsBefore = tokens_.calls.size();
  for (WORD code : {0, 6, 7, 9, 100, 255, 271, 1000, 0xFFFF}) PostEvent(1, code, 1);
  EXPECT_EQ(tokens_.calls.size(), callsBefore);
  EXPECT_TRUE(notifications_.empty());
  EXPECT_EQ(dialog_->TrayIconState(), 1);
}

TEST_F(DialogTest, ProgressCodesAnimateTheTrayAndNotify) {
  tokens_.Add(1, L"A");
  Start();
  ASSERT_TRUE(dialog_->TrayIconShown());
  struct Row {
    WORD code;
    LPARAM extra;
    const wchar_t* text;  // null: no notification
    int stateAfter;
  } rows[] = {
      {259, 1, L"Saving Certificate, please wait...", 2},
      {260, 1, L"Certificate is saved successfully!", 1},
      {259, 4, nullptr, 2},
      {260, 4, nullptr, 1},
      {259, 3, L"Saving Private Key, please wait...", 2},
      {261, 2, L"Failed to save Public Key!", 1},
      {256, 0, nullptr, 2},
      {258, 0, nullptr, 2},
      {257, 0, nullptr, 1},
      {262, 0, L"Generating key pair, please wait...", 2},
      {264, 0, L"Failed to generated key pair!", 1},
      {268, 0, L"initializing the USBKey, please wait...", 2},
      {269, 0, L"USBKey is initialized successfully!", 1},
  };
  for (const Row& r : rows) {
    size_t before = notifications_.size();
    PostEvent(1, r.code, r.extra);
    if (r.text) {
      ASSERT_EQ(notifications_.size(), before + 1) << r.code;
      EXPECT_EQ(notifications_.back().text, r.text) << r.code;
    } else {
      EXPECT_EQ(notifications_.size(), before) << r.code;
    }
    EXPECT_EQ(dialog_->TrayIconState(), r.stateAfter) << r.code << " " << r.extra;
  }
  // While busy the image alternates on the 350 ms timer.
  PostEvent(1, 265);
  Pump(400);
  EXPECT_EQ(dialog_->TrayIconState(), 3);
  PostEvent(1, 267);  // low-level initialisation failed: the token is read again
  EXPECT_EQ(dialog_->TrayIconState(), 1);
  EXPECT_EQ(notifications_.back().text, L"Failed to low loevel initialize USBKey!");
  EXPECT_EQ(KeysOf("UnregisterTokenCertificates"), std::vector<unsigned long>{1});
  EXPECT_EQ(KeysOf("EnumerateTokens").size(), 2u);
}

TEST_F(DialogTest, PinCheckTimerUsesTheNumbersOneToNAsTokenKeys) {
  tokens_.Add(3, L"A");
  tokens_.Add(7, L"B");
  real_ = true;  // the product's own second
  Start(false);
  EXPECT_TRUE(KeysOf("IsPinChangeRequired").empty());
  Pump(1300);
  EXPECT_EQ(KeysOf("IsPinChangeRequired"), (std::vector<unsigned long>{1, 2}));
  Pump(1100);
  EXPECT_EQ(KeysOf("IsPinChangeRequired").size(), 2u) << "timer 2008 runs once";
}

TEST_F(DialogTest, QuietModeDropsTheIconAndEveryNotification) {
  tokens_.Add(1, L"A");
  Start();
  ASSERT_TRUE(dialog_->TrayIconShown());
  ::PostMessageW(Hwnd(), instanceMessage_, 3, 0);
  Pump(50);
  EXPECT_TRUE(dialog_->QuietFlag());
  EXPECT_FALSE(dialog_->TrayIconShown());
  tokens_.Add(2, L"B");
  PostEvent(2, 1);
  PostEvent(1, 259, 1);
  EXPECT_FALSE(dialog_->TrayIconShown());
  EXPECT_TRUE(notifications_.empty());
  ::SendMessageW(Hwnd(), ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_FALSE(dialog_->TrayIconShown());
}

TEST_F(DialogTest, TaskbarRestartBringsTheIconBackOnlyWithAToken) {
  Start();
  UINT taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
  ::SendMessageW(Hwnd(), taskbarCreated, 0, 0);
  EXPECT_FALSE(dialog_->TrayIconShown());
  tokens_.Add(1, L"A");
  ::SendMessageW(Hwnd(), taskbarCreated, 0, 0);
  EXPECT_TRUE(dialog_->TrayIconShown());
}

TEST_F(DialogTest, ShowHideAndTheKeysThatMustNotCloseTheWindow) {
  Start();
  ::PostMessageW(Hwnd(), instanceMessage_, 2, 0);
  Pump(100);
  ASSERT_TRUE(::IsWindowVisible(Hwnd()));
  RECT rc;
  ::GetWindowRect(Hwnd(), &rc);
  EXPECT_EQ(rc.left, (::GetSystemMetrics(SM_CXSCREEN) - (rc.right - rc.left)) / 2);
  EXPECT_EQ(rc.top, (::GetSystemMetrics(SM_CYSCREEN) - (rc.bottom - rc.top)) / 3);
  // (Wine without a window manager does not report the top-most state, so it is not asserted.)

  ::SendMessageW(Hwnd(), WM_COMMAND, IDOK, 0);
  ::SendMessageW(Hwnd(), WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(::IsWindowVisible(Hwnd())) << "Enter and Escape do nothing";
  ::SendMessageW(Hwnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(::IsWindowVisible(Hwnd()));
  ::PostMessageW(Hwnd(), instanceMessage_, 2, 0);
  Pump(100);
  ::SendMessageW(Hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
  Pump(50);
  EXPECT_FALSE(::IsWindowVisible(Hwnd())) << "the close box minimises, which hides";
  EXPECT_NE(Hwnd(), nullptr);
}

TEST_F(DialogTest, TrayIconAndMenuCommandsOpenTheWindowAndTheAboutBox) {
  tokens_.Add(1, L"A");
  Start();
  ::SendMessageW(Hwnd(), vd::kTrayCallbackMessage, 999, WM_LBUTTONDBLCLK);  // another icon's id
  EXPECT_FALSE(::IsWindowVisible(Hwnd()));
  ::SendMessageW(Hwnd(), vd::kTrayCallbackMessage, IDI_TOKEN, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(::IsWindowVisible(Hwnd()));
  ::SendMessageW(Hwnd(), WM_COMMAND, IDC_EXIT, 0);
  EXPECT_FALSE(::IsWindowVisible(Hwnd())) << "the hidden Exit button only hides";
  ::SendMessageW(Hwnd(), WM_COMMAND, IDM_SHOW_MANAGER, 0);
  EXPECT_TRUE(::IsWindowVisible(Hwnd()));

  ::SendMessageW(Hwnd(), WM_COMMAND, IDM_ABOUT, 0);
  ::SendMessageW(Hwnd(), WM_SYSCOMMAND, 100, 0);
  EXPECT_EQ(popups_.aboutShown, 2);

  // The tray menu: choosing its first item posts the command back to the dialog.
  ::ShowWindow(Hwnd(), SW_HIDE);
  std::atomic<bool> stop{false};
  std::thread chooser([&] {
    // The item's mnemonic chooses it whatever the pointer highlighted. A key that reaches the menu before
    // its loop runs is lost: while the menu stays open, choose again.
    while (!stop) {
      if (HWND menu = VisibleMenuWindow()) {
        ::PostMessageW(menu, WM_CHAR, L's', 0);
        ::Sleep(300);
      }
      ::Sleep(20);
    }
  });
  // Without a window manager an unmanaged menu of a hidden owner now and then closes as it opens, before
  // anything could be chosen: click again then.
  bool shown = false;
  for (int click = 0; click < 4 && !shown; ++click) {
    ::PostMessageW(Hwnd(), vd::kTrayCallbackMessage, IDI_TOKEN, WM_RBUTTONDOWN);
    shown = PumpUntil([&] { return ::IsWindowVisible(Hwnd()) != FALSE; }, 1500);
  }
  stop = true;
  chooser.join();
  EXPECT_TRUE(shown) << "Show Certificate Manager chosen from the tray menu";
}

TEST_F(DialogTest, SetNotifierOkAppliesTheNewSettingsCancelChangesNothing) {
  Start(false);
  popups_.setNotifierAnswer.reset();
  ::SendMessageW(Hwnd(), WM_COMMAND, IDC_SET_NOTIFIER, 0);
  Pump(50);
  EXPECT_EQ(dialog_->ReminderIntervalMs(), 0u);
  popups_.setNotifierAnswer = std::make_pair(true, 7u);
  ::SendMessageW(Hwnd(), WM_COMMAND, IDC_SET_NOTIFIER, 0);
  Pump(50);
  EXPECT_EQ(dialog_->ReminderIntervalMs(), 7u * 60000u);
  popups_.setNotifierAnswer = std::make_pair(false, 7u);
  ::SendMessageW(Hwnd(), WM_COMMAND, IDC_SET_NOTIFIER, 0);
  Pump(50);
  EXPECT_EQ(dialog_->ReminderIntervalMs(), 0u);
}

TEST_F(DialogTest, TreeSelectionDecidesTheButtons) {
  tokens_.Add(1, L"Opalix Token", {Cert(11, L"Registered", true), Cert(12, L"Not registered", false)});
  Start();
  HTREEITEM token = TreeView_GetRoot(Tree());
  HTREEITEM first = TreeView_GetChild(Tree(), token);
  HTREEITEM second = TreeView_GetNextSibling(Tree(), first);
  ASSERT_TRUE(second);

  TreeView_SelectItem(Tree(), first);
  EXPECT_TRUE(Enabled(IDC_VIEW_CERT));
  EXPECT_FALSE(Enabled(IDC_CHANGE_PIN));
  EXPECT_FALSE(Enabled(IDC_CHANGE_NAME));
  EXPECT_TRUE(Enabled(IDC_UNREGISTER_CERT));
  EXPECT_FALSE(Enabled(IDC_REGISTER_CERT));
  TreeView_SelectItem(Tree(), second);
  EXPECT_TRUE(Enabled(IDC_REGISTER_CERT));
  EXPECT_FALSE(Enabled(IDC_UNREGISTER_CERT));

  // The certificate left the list behind the tree's back: the buttons stay as they were.
  tokens_.tokens[0].certificates.pop_back();
  TreeView_SelectItem(Tree(), first);
  tokens_.tokens[0].certificates.pop_back();
  TreeView_SelectItem(Tree(), second);
  EXPECT_TRUE(Enabled(IDC_VIEW_CERT));

  TreeView_SelectItem(Tree(), token);
  EXPECT_FALSE(Enabled(IDC_VIEW_CERT));
  EXPECT_TRUE(Enabled(IDC_CHANGE_PIN));
  EXPECT_TRUE(Enabled(IDC_CHANGE_NAME));
  EXPECT_FALSE(Enabled(IDC_REGISTER_CERT));
}

TEST_F(DialogTest, LabelEventRenamesOnlyThatTokensItem) {
  tokens_.Add(1, L"First");
  tokens_.Add(2, L"Second");
  Start();
  tokens_.tokens[1].label = L"Renamed";
  PostEvent(2, 8);
  EXPECT_EQ(KeysOf("RefreshLabel"), std::vector<unsigned long>{2});
  EXPECT_EQ(TreeTexts(), (std::vector<std::wstring>{L"First", L"Renamed"}));
}

TEST_F(DialogTest, StoredNotifierSettingsDecideTheReminderTimer) {
  struct Row {
    const char* name;
    std::optional<DWORD> enabled, span;
    UINT intervalMs;
  } rows[] = {
      {"no key", std::nullopt, std::nullopt, 0},
      {"on, no span", 1, std::nullopt, 0},
      {"off", 0, 10, 0},
      {"on, 10 minutes", 1, 10, 600000},
      {"on, 0 minutes", 1, 0, 60000},
      {"on, 500 minutes", 1, 500, 7200000},
  };
  for (const Row& r : rows) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kNotifierKey);
    if (r.enabled) vd::RegWriteDword(HKEY_CURRENT_USER, kNotifierKey, L"isNotifier", *r.enabled);
    if (r.span) vd::RegWriteDword(HKEY_CURRENT_USER, kNotifierKey, L"timeSpan", *r.span);
    Start(false);
    EXPECT_EQ(dialog_->ReminderIntervalMs(), r.intervalMs) << r.name;
    EXPECT_EQ(::KillTimer(Hwnd(), vd::kReminderTimer) != FALSE, r.intervalMs != 0) << r.name;
    dialog_.reset();
  }
  // The dialog's OK sends the new settings; (off, minutes) stops them at once.
  Start(false);
  ::SendMessageW(Hwnd(), vd::kNotifierSettingsMessage, 1, 15);
  EXPECT_EQ(dialog_->ReminderIntervalMs(), 15u * 60000u);
  ::SendMessageW(Hwnd(), vd::kNotifierSettingsMessage, 0, 15);
  EXPECT_EQ(dialog_->ReminderIntervalMs(), 0u);
}

TEST_F(DialogTest, ReminderCountsTheMinuteInProgressForEachTokenInKeyOrder) {
  Start();
  std::time_t now = std::time(nullptr);
  popups_.startOverride = now - (59 * 60 + 30);
  tokens_.Add(5, L"Late");
  PostEvent(5, 1);
  popups_.startOverride = now - 10 * 60;
  tokens_.Add(2, L"Early");
  PostEvent(2, 1);
  FireTimer(vd::kReminderTimer);
  ASSERT_EQ(popups_.shown.size(), 2u);
  // Key 2 (the second popup made) speaks first.
  EXPECT_EQ(popups_.shown[0].first, 2u);
  EXPECT_EQ(popups_.shown[0].second, L"Certificate Manager\n\n\n\nYour USBKey has been used for 11 minute(s)");
  EXPECT_EQ(popups_.shown[1].first, 1u);
  EXPECT_EQ(popups_.shown[1].second,
            L"Certificate Manager\n\n\n\nYour USBKey has been used for 1 hour(s) 0 minute(s)");
}

// The commands of the buttons, hidden ones included, open their windows; each is found by its title from
// a helper thread, which remembers what it showed and closes it.
TEST_F(DialogTest, CommandsOpenTheirWindowsAndHiddenButtonsStayHidden) {
  Start();  // no token: the tree holds only its placeholder, so no certificate is remembered
  struct Row {
    WORD command;
    const wchar_t* title;
    const wchar_t* text;  // the statics' text a message box shows, or null for a dialog
  } rows[] = {
      {IDC_VIEW_CERT, L"Certificates Daemon", L"Parameter Error!"},
      {IDC_IMPORTANT, L"Important", nullptr},
      {IDC_DEVICE_INFO, L"System Device Info", nullptr},
      {IDC_OPTION, L"Option", nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(vd::WideToUtf8(r.title));
    std::atomic<bool> stop{false}, seen{false};
    std::wstring text;
    std::thread closer([&] {
      while (!stop) {
        HWND w = ::FindWindowW(L"#32770", r.title);
        if (w && ::IsWindowVisible(w)) {
          text = vdtest::StaticTexts(w);
          seen = true;
          ::PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
          return;
        }
        ::Sleep(20);
      }
    });
    ::PostMessageW(Hwnd(), WM_COMMAND, r.command, 0);
    bool shown = PumpUntil([&] { return seen.load(); }, 8000);
    stop = true;
    closer.join();
    Pump(300);
    EXPECT_TRUE(shown);
    if (r.text) {
      EXPECT_EQ(text, r.text);
    }
  }
  ::SendMessageW(Hwnd(), WM_COMMAND, IDC_INITIALIZE, 0);  // does nothing
  for (int id : {IDC_REGISTER_CERT, IDC_UNREGISTER_CERT, IDC_VERIFY_PIN, IDC_INITIALIZE, IDC_EXIT, IDC_IMPORTANT,
                 IDC_DEVICE_INFO}) {
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(Hwnd(), id))) << id;
  }
}

TEST_F(DialogTest, ModuleThatCannotBeBoundIsReportedAndTheDialogStaysHidden) {
  struct Row {
    bool loadOk, monitorOk;
    const wchar_t* text;
  } rows[] = {
      {false, true, L"Failed to load PKCS#11 library, please check your installation"},
      {true, false, L"Can not start USBKey monitor, the certificate register works unperfectly"},
  };
  for (const Row& r : rows) {
    tokens_.calls.clear();
    tokens_.loadOk = r.loadOk;
    tokens_.monitorOk = r.monitorOk;
    // The message boxes are modal: a helper answers every one and remembers its text.
    std::atomic<bool> stop{false};
    std::vector<std::wstring> seen;
    std::mutex seenLock;
    std::thread answer([&] {
      while (!stop) {
        HWND box = ::FindWindowW(L"#32770", L"Certificate Manager");
        if (box && ::IsWindowVisible(box)) {
          std::wstring text = vdtest::StaticTexts(box);
          {
            std::lock_guard<std::mutex> g(seenLock);
            seen.push_back(text);
          }
          ::PostMessageW(box, WM_COMMAND, IDOK, 0);
          ::Sleep(200);
        }
        ::Sleep(20);
      }
    });
    Start();
    Pump(500);
    stop = true;
    answer.join();
    ASSERT_GE(seen.size(), 1u);
    EXPECT_EQ(seen[0], r.text);
    EXPECT_FALSE(::IsWindowVisible(Hwnd()));
    EXPECT_FALSE(dialog_->WorkerRunning()) << "initialisation stops at the failure";
    dialog_.reset();
  }
}

TEST_F(DialogTest, PromptWatcherRunsOnlyBeforeVista) {
  struct Row {
    vd::OsPlatformFacts facts;
    bool watcher;
  } rows[] = {
      {vd::OsPlatformFacts::Nt(5, 1, 2600), true},
      {vd::OsPlatformFacts::Nt(5, 0, 2195), true},
      {vd::OsPlatformFacts::Nt(6, 0, 6002), false},
      {vd::OsPlatformFacts::Nt(6, 1, 7601), false},
  };
  for (const Row& r : rows) {
    vd::OsVersion().Detect(r.facts);
    Start(false);
    EXPECT_EQ(dialog_->PromptWatcherStarted(), r.watcher) << r.facts.major << "." << r.facts.minor;
    DWORD before = ::GetTickCount();
    dialog_.reset();
    EXPECT_LT(::GetTickCount() - before, 2000u) << "the watcher ends with the dialog";
  }
  vd::OsVersion().Detect();
}

}  // namespace
