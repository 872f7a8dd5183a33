// The rename command against the simulated token: the dialog driven as the user types, the label written
// and read back, refusals, a pulled token and labels that are not UTF-8.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "change_token_name_dlg.h"
#include "commands_driver.h"
#include "commands_ids.h"
#include "commands_module.h"
#include "screenshot.h"
#include "text.h"
#include "token_dialogs.h"

namespace {

using cmdtest::DialogDriver;
using cmdtest::Enabled;
using cmdtest::ItemText;

class Rename : public cmdtest::TokenModuleTest {
 protected:
  std::optional<std::wstring> Run(CK_SLOT_ID slot) {
    opened_ = nullptr;
    closedCount_ = 0;
    return vd::RunRenameToken(nullptr, fl(), aux(), slot, [this](HWND d) { opened_ = d; }, [this] { ++closedCount_; });
  }
  HWND opened_ = nullptr;
  int closedCount_ = 0;
};

size_t CaretEnd(HWND dlg) {
  DWORD start = 0, end = 0;
  ::SendDlgItemMessageW(dlg, IDC_TOKEN_NAME_EDIT, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                        reinterpret_cast<LPARAM>(&end));
  return end;
}

TEST_F(Rename, TypedNamesFollowTheLengthAndBlankRules) {
  const std::wstring e15(15, L'\x00E9');  // é takes two bytes in UTF-8
  struct Row {
    const char* what;
    std::wstring typed;     // replaces the whole text, one character at a time
    std::wstring shown;     // the edit afterwards
    bool okEnabled;
    size_t caret;           // where the caret ends, npos: not checked
    std::optional<std::wstring> result;
    std::string label;      // on the token afterwards, before padding
  } rows[] = {
      {"31 ASCII characters fit", std::wstring(31, L'a'), std::wstring(31, L'a'), true, std::wstring::npos,
       std::wstring(31, L'a'), std::string(31, 'a')},
      {"a 32nd is undone", std::wstring(31, L'a') + L'b', std::wstring(31, L'a'), true, 31, std::wstring(31, L'a'),
       std::string(31, 'a')},
      {"a 16th two-byte character is undone", e15 + L'\x00E9', e15, true, 15, e15,
       [] { std::string s; for (int i = 0; i < 15; ++i) s += "\xC3\xA9"; return s; }()},
      {"two ASCII letters", L"Hi", L"Hi", true, std::wstring::npos, L"Hi", "Hi"},
      {"a trailing space cannot be confirmed", L"Bank ", L"Bank ", false, std::wstring::npos, std::nullopt, "Old"},
      {"an empty name cannot be confirmed", L"\b", L"", false, std::wstring::npos, std::nullopt, "Old"},
      {"a space inside is fine", L"My Bank", L"My Bank", true, std::wstring::npos, L"My Bank", "My Bank"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Ctl(L"insert 1 --label Old");
    std::wstring initial, shown;
    bool okAtOpen = true, okEnabled = false, stillOpenAfterOk = false;
    size_t caret = 0;
    DialogDriver driver({[&](HWND dlg) {
                           initial = ItemText(dlg, IDC_TOKEN_NAME_EDIT);
                           okAtOpen = Enabled(dlg, IDOK);
                           cmdtest::Type(dlg, IDC_TOKEN_NAME_EDIT, r.typed, true);
                           shown = ItemText(dlg, IDC_TOKEN_NAME_EDIT);
                           okEnabled = Enabled(dlg, IDOK);
                           caret = CaretEnd(dlg);
                           // As Enter does, whether or not the button is enabled.
                           ::SendMessageW(dlg, WM_COMMAND, IDOK, 0);
                         },
                         [&](HWND dlg) {
                           stillOpenAfterOk = true;
                           ::SendMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
                         }});
    const std::optional<std::wstring> result = Run(1);
    EXPECT_FALSE(DialogDriver::WatchdogFired());
    EXPECT_EQ(initial, L"Old");
    EXPECT_FALSE(okAtOpen) << "the name as read is no change";
    EXPECT_EQ(shown, r.shown);
    EXPECT_EQ(okEnabled, r.okEnabled);
    if (r.caret != std::wstring::npos) {
      EXPECT_EQ(caret, r.caret);
    }
    EXPECT_EQ(stillOpenAfterOk, !r.okEnabled);
    EXPECT_EQ(result, r.result);
    EXPECT_EQ(RawLabel(1), Padded(r.label));
    EXPECT_EQ(opened_, DialogDriver::Seen().empty() ? nullptr : DialogDriver::Seen().front());
    EXPECT_EQ(closedCount_, 1);
  }
}

TEST_F(Rename, RefusedWriteClosesAsCancelledWithoutAMessage) {
  Ctl(L"insert 2 --label Kept");
  Fail(L"E_SetLabel 0x30");
  DialogDriver driver({[](HWND dlg) {
                         cmdtest::Type(dlg, IDC_TOKEN_NAME_EDIT, L"New", true);
                         cmdtest::Press(dlg, IDOK);
                       },
                       [](HWND dlg) { ::SendMessageW(dlg, WM_COMMAND, IDCANCEL, 0); }});
  EXPECT_EQ(Run(2), std::nullopt);
  EXPECT_EQ(DialogDriver::Seen().size(), 1u) << "a message box or the dialog was still open";
  EXPECT_FALSE(DialogDriver::WatchdogFired());
  EXPECT_EQ(RawLabel(2), Padded("Kept"));
  EXPECT_EQ(closedCount_, 1);
}

TEST_F(Rename, PulledTokenEndsTheDialog) {
  Ctl(L"insert 3 --label Pulled");
  DialogDriver driver([&](HWND dlg) {
    cmdtest::Type(dlg, IDC_TOKEN_NAME_EDIT, L"Never", true);
    Ctl(L"remove 3");
    ::PostMessageW(opened_, vd::kTokenRemovedMessage, 0, 0);
  });
  EXPECT_EQ(Run(3), std::nullopt);
  ASSERT_EQ(DialogDriver::Seen().size(), 1u);
  EXPECT_EQ(opened_, DialogDriver::Seen()[0]);
  EXPECT_EQ(closedCount_, 1);
  EXPECT_FALSE(DialogDriver::WatchdogFired());
  Ctl(L"insert 3");
  EXPECT_EQ(RawLabel(3), Padded("Pulled"));
}

TEST_F(Rename, LabelsThatAreNotUtf8ShowWithReplacementCharacters) {
  Ctl(L"insert 4");
  struct Row {
    std::string bytes;
    std::wstring shown;
  } rows[] = {
      {"Bank\xFF\xFEKey", L"Bank\xFFFD\xFFFDKey"},
      {"\xC3\xA9t\xC3", L"\x00E9t\xFFFD"},  // the last character cut off by another tool
      {std::string(32, '\x80'), std::wstring(32, L'\xFFFD')},
  };
  for (const Row& r : rows) {
    SetRawLabel(4, r.bytes);
    std::wstring shown;
    DialogDriver driver([&](HWND dlg) {
      shown = ItemText(dlg, IDC_TOKEN_NAME_EDIT);
      ::SendMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(Run(4), std::nullopt);
    EXPECT_EQ(shown, r.shown) << r.bytes;
  }
}

TEST_F(Rename, WithoutABoundModuleNothingOpens) {
  bool opened = false, closed = false;
  EXPECT_EQ(vd::RunRenameToken(nullptr, nullptr, aux(), 1, [&](HWND) { opened = true; }, [&] { closed = true; }),
            std::nullopt);
  EXPECT_FALSE(opened);
  EXPECT_FALSE(closed);
}

TEST_F(Rename, Screenshots) {
  Ctl(L"insert 5 --label \"Opalix Token\"");
  struct Row {
    bool chinese;
    const wchar_t* file;
    const wchar_t* title;
  } rows[] = {{false, L"commands_rename_en.png", L"Change Token Name"},
              {true, L"commands_rename_zh.png", L"\x4FEE\x6539\x4EE4\x724C\x540D\x79F0"}};
  for (const Row& r : rows) {
    std::optional<cmdtest::ScopedShippedChinese> language;
    if (r.chinese) language.emplace();
    std::wstring title, label;
    DialogDriver driver({[&](HWND dlg) {
                           ::SendDlgItemMessageW(dlg, IDC_TOKEN_NAME_EDIT, EM_SETSEL, 64, 64);
                           cmdtest::Type(dlg, IDC_TOKEN_NAME_EDIT, L" 2");
                         },
                         [&](HWND dlg) {
                           title = cmdtest::WindowText(dlg);
                           label = ItemText(dlg, IDC_TOKEN_NAME_LABEL);
                           EXPECT_TRUE(vdtest::SaveWindowPng(dlg, r.file));
                           ::SendMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
                         }});
    Run(5);
    EXPECT_EQ(title, r.title);
    EXPECT_EQ(label, r.chinese ? L"\x65B0\x4EE4\x724C\x540D\x79F0\xFF08\x4E0D\x8D85\x8FC7" L"31\x4E2A\x5B57\x7B26\xFF09\xFF1A"
                               : L"New Token Name(no more than 31 characters):");
  }
}

}  // namespace
