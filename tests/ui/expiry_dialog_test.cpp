#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "expiry.h"
#include "expiry_dialog.h"
#include "expiry_ids.h"
#include "expiry_test_util.h"
#include "scoped_language.h"
#include "expiry_screenshot.h"
#include "testsupport.h"

namespace {

using expirytest::Cert;

const wchar_t kSoon[] = L"The certificate saved in the USBKey will be expired in %d Day, please renew the certificate!";
const wchar_t kExpired[] = L"The certificate saved in the USBKey is expired, please renew the certificate!";

std::wstring Soon(int days) {
  std::wstring s = kSoon;
  return s.replace(s.find(L"%d"), 2, std::to_wstring(days));
}

TEST(ExpiryMessage, DefaultsAndTranslations) {
  {
    vdtest::ScopedLanguage none(L"");
    EXPECT_EQ(vd::ExpiryMessage(30), Soon(30));
    EXPECT_EQ(vd::ExpiryMessage(1), Soon(1));
    EXPECT_EQ(vd::ExpiryMessage(0), Soon(0));
    EXPECT_EQ(vd::ExpiryMessage(-1), kExpired);
  }
  {
    // A translation is untrusted text: with conversions other than the default's it is not used at all;
    // a text that is no format shows as written.
    vdtest::ScopedLanguage odd(L"90000=%s left %d%% %x %\r\n90001=gone %d\r\n");
    EXPECT_EQ(vd::ExpiryMessage(7), Soon(7));
    EXPECT_EQ(vd::ExpiryMessage(-3), L"gone %d");
  }
  {
    vdtest::ScopedLanguage longer(L"90000=" + std::wstring(300, L'x') + L"%d\r\n");
    EXPECT_EQ(vd::ExpiryMessage(5), std::wstring(255, L'x'));
  }
}


// What the clicker saw of one "Check Cert" dialog.
struct Seen {
  std::wstring title;
  std::wstring message;
  std::wstring checkBox;
  RECT rect{};
  bool topMost = false;
  bool hasIcon = false;
  bool boxInitiallyChecked = false;
};

// Answers dialogs from another thread, as a user would: reads them, ticks the box when told, then presses
// the button. The dialog's thread stays inside the modal loop all the while.
class Clicker {
 public:
  struct Answer {
    bool tick;
    int button;  // IDOK or IDCANCEL
  };
  explicit Clicker(std::vector<Answer> answers, const wchar_t* screenshot = nullptr)
      : answers_(std::move(answers)), screenshot_(screenshot), thread_([this] { Run(); }) {}
  ~Clicker() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // Waits for the clicker to have answered every dialog it was given, or for a dialog it did not expect.
  const std::vector<Seen>& Finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

 private:
  static std::wstring Text(HWND wnd) {
    wchar_t buf[512] = {};
    ::GetWindowTextW(wnd, buf, 512);
    return buf;
  }

  HWND WaitForDialog() {
    for (int i = 0; i < 500 && !(stop_ && seen_.size() >= answers_.size()); ++i) {
      HWND dlg = ::FindWindowW(L"#32770", nullptr);
      for (; dlg; dlg = ::FindWindowExW(nullptr, dlg, L"#32770", nullptr)) {
        if (dlg != last_ && ::IsWindowVisible(dlg) && ::GetDlgItem(dlg, IDC_CHECK_CERT_NO_PROMPT)) return dlg;
      }
      ::Sleep(20);
    }
    return nullptr;
  }

  void Run() {
    while (seen_.size() < answers_.size() || !stop_) {
      HWND dlg = WaitForDialog();
      if (!dlg) return;
      ::Sleep(50);  // let the dialog finish painting before it is read and photographed
      Seen s;
      s.title = Text(dlg);
      s.message = Text(::GetDlgItem(dlg, IDC_CHECK_CERT_MESSAGE));
      s.checkBox = Text(::GetDlgItem(dlg, IDC_CHECK_CERT_NO_PROMPT));
      ::GetWindowRect(dlg, &s.rect);
      s.topMost = (::GetWindowLongW(dlg, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
      s.hasIcon = ::SendDlgItemMessageW(dlg, IDC_CHECK_CERT_ICON, STM_GETICON, 0, 0) != 0;
      s.boxInitiallyChecked = ::SendDlgItemMessageW(dlg, IDC_CHECK_CERT_NO_PROMPT, BM_GETCHECK, 0, 0) == BST_CHECKED;
      if (screenshot_ && seen_.empty()) expirytest::SaveWindowScreenshot(dlg, screenshot_);
      // A dialog nobody expected is cancelled, so that a failing test ends instead of hanging.
      Answer a = seen_.size() < answers_.size() ? answers_[seen_.size()] : Answer{false, IDCANCEL};
      seen_.push_back(s);
      if (a.tick) ::SendDlgItemMessageW(dlg, IDC_CHECK_CERT_NO_PROMPT, BM_SETCHECK, BST_CHECKED, 0);
      ::PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(a.button, BN_CLICKED), 0);
      last_ = dlg;
      for (int i = 0; i < 250 && ::IsWindow(dlg); ++i) ::Sleep(20);
    }
  }

  std::vector<Answer> answers_;
  const wchar_t* screenshot_;
  std::vector<Seen> seen_;
  HWND last_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class ExpiryDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { vd::ResetExpiryWarnings(); }
  void TearDown() override { vd::ResetExpiryWarnings(); }
  vdtest::ScopedLanguage english_{L""};
};

TEST_F(ExpiryDialogTest, ShowsTheMessageCentredAndTopMost) {
  Clicker clicker({{false, IDOK}}, L"check_cert.png");
  EXPECT_FALSE(vd::ExpiryDialog(30));
  const auto& seen = clicker.Finish();
  ASSERT_EQ(seen.size(), 1u);
  const Seen& s = seen[0];
  EXPECT_EQ(s.title, L"Check Cert");
  EXPECT_EQ(s.message, L"The certificate saved in the USBKey will be expired in 30 Day, please renew the certificate!");
  EXPECT_EQ(s.checkBox, L"Don't prompt this dialog again");
  EXPECT_TRUE(s.topMost);
  EXPECT_TRUE(s.hasIcon);
  EXPECT_FALSE(s.boxInitiallyChecked);
  int width = s.rect.right - s.rect.left, height = s.rect.bottom - s.rect.top;
  EXPECT_NEAR(s.rect.left, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2, 1);
  EXPECT_NEAR(s.rect.top, (::GetSystemMetrics(SM_CYSCREEN) - height) / 3, 1);
}

TEST_F(ExpiryDialogTest, EitherButtonReportsTheBox) {
  struct Row {
    const char* name;
    bool tick;
    int button;
    int days;
  } rows[] = {
      {"OkUnticked", false, IDOK, 5},
      {"OkTicked", true, IDOK, 5},
      {"CancelTicked", true, IDCANCEL, -1},
      {"CancelUnticked", false, IDCANCEL, -1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Clicker clicker({{row.tick, row.button}});
    EXPECT_EQ(vd::ExpiryDialog(row.days), row.tick);
    const auto& seen = clicker.Finish();
    ASSERT_EQ(seen.size(), 1u);
    if (row.days < 0) {
      EXPECT_EQ(seen[0].message, L"The certificate saved in the USBKey is expired, please renew the certificate!");
    }
  }
}

TEST_F(ExpiryDialogTest, TranslatedFromTheLanguageFile) {
  vdtest::ScopedLanguage chinese(
      L"152=\x8BC1\x4E66\x68C0\x67E5\r\n2026=\x4E0D\x518D\x63D0\x793A\r\n90000=\x8FD8\x6709 %d \x5929\r\n");
  Clicker clicker({{false, IDOK}});
  vd::ExpiryDialog(3);
  const auto& seen = clicker.Finish();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].title, L"\x8BC1\x4E66\x68C0\x67E5");
  EXPECT_EQ(seen[0].checkBox, L"\x4E0D\x518D\x63D0\x793A");
  EXPECT_EQ(seen[0].message, L"\x8FD8\x6709 3 \x5929");
  EXPECT_TRUE(seen[0].hasIcon);
}

TEST_F(ExpiryDialogTest, ThreeCertificatesTickedInTheFirstGiveOneDialog) {
  FILETIME now = expirytest::MadeAt(L"exp_29d12h.der");
  std::vector<std::vector<uint8_t>> three = {Cert(L"exp_29d12h.der"), Cert(L"expired.der"), Cert(L"exp_p6h.der")};
  {
    Clicker clicker({{false, IDOK}, {false, IDCANCEL}, {false, IDOK}});
    vd::CheckExpiryAt(three, 30, now, vd::ExpiryDialog);
    const auto& seen = clicker.Finish();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_NE(seen[0].message.find(L" 30 Day"), std::wstring::npos);
    EXPECT_NE(seen[1].message.find(L"is expired"), std::wstring::npos);
    EXPECT_NE(seen[2].message.find(L" 1 Day"), std::wstring::npos);
  }
  {
    Clicker clicker({{true, IDOK}});
    vd::CheckExpiryAt(three, 30, now, vd::ExpiryDialog);
    EXPECT_EQ(clicker.Finish().size(), 1u);
    EXPECT_FALSE(vd::ExpiryWarningsOn());
  }
}

}  // namespace
