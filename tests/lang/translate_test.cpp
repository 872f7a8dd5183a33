#include <gtest/gtest.h>
#include <windows.h>

#include "handles.h"
#include "lang_test_util.h"
#include "language_manager.h"

namespace {

using langtest::LangDir;
using vd::LanguageManager;

constexpr int kDialog = 300;
constexpr int kOldStyleDialog = 301;
constexpr int kMenu = 400;

INT_PTR CALLBACK NoOpProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

struct Dialog {
  explicit Dialog(int id) : hwnd(::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), nullptr,
                                                       NoOpProc, 0)) {}
  ~Dialog() {
    if (hwnd) ::DestroyWindow(hwnd);
  }
  std::wstring Text(int id) const {
    wchar_t buf[260] = {};
    ::GetDlgItemTextW(hwnd, id, buf, 260);
    return buf;
  }
  std::wstring Title() const {
    wchar_t buf[260] = {};
    ::GetWindowTextW(hwnd, buf, 260);
    return buf;
  }
  // Texts of the controls with the shared "no id" id, in creation order.
  std::vector<std::wstring> Unnamed() const {
    std::vector<std::wstring> out;
    for (HWND c = ::GetWindow(hwnd, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
      if ((::GetDlgCtrlID(c) & 0xFFFF) != 0xFFFF) continue;
      wchar_t buf[260] = {};
      ::GetWindowTextW(c, buf, 260);
      out.push_back(buf);
    }
    return out;
  }
  HWND hwnd;
};

std::wstring ItemText(HMENU menu, int pos) {
  wchar_t buf[260] = {};
  ::GetMenuStringW(menu, static_cast<UINT>(pos), buf, 260, MF_BYPOSITION);
  return buf;
}

bool IsSeparator(HMENU menu, int pos) {
  MENUITEMINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_FTYPE;
  return ::GetMenuItemInfoW(menu, static_cast<UINT>(pos), TRUE, &info) && (info.fType & MFT_SEPARATOR);
}

class TranslateTest : public ::testing::Test {
 protected:
  // A manager reading <temp>\lang\qv_2052.lng with the given strings section.
  void Load(const std::wstring& strings) {
    ASSERT_TRUE(dir_.Write(2052, L"[settings]\r\nCodePage=2052\r\nLanguage=Test\r\n[strings]\r\n" + strings));
    manager_.SetLanguageDirectory(dir_.dir());
    manager_.SetLanguageBaseName(dir_.base());
    manager_.SetLanguageId(2052);
    ASSERT_TRUE(manager_.IsLoaded());
  }
  void NoFile() {
    manager_.SetLanguageDirectory(dir_.dir());
    manager_.SetLanguageBaseName(dir_.base());
    manager_.SetLanguageId(1033);
  }
  vd::UniqueMenu LoadMenu() { return vd::UniqueMenu(::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kMenu))); }

  LangDir dir_;
  LanguageManager manager_;
};

TEST_F(TranslateTest, DialogTakesTitleButtonsAndStaticsFromTheFile) {
  Load(L"300=New Title\r\n301=Label!\r\n302=Push!\r\n303=Check!\r\n304=not for edits\r\n306=not for lists\r\n"
       L"65535=Shared\r\n1=Okay\r\n");
  Dialog d(kDialog);
  ASSERT_NE(d.hwnd, nullptr);
  ::SetDlgItemTextW(d.hwnd, 304, L"typed by the user");
  manager_.TranslateDialog(d.hwnd, kDialog);
  EXPECT_EQ(d.Title(), L"New Title");
  EXPECT_EQ(d.Text(301), L"Label!");
  EXPECT_EQ(d.Text(302), L"Push!");
  EXPECT_EQ(d.Text(303), L"Check!");
  EXPECT_EQ(d.Text(IDOK), L"Okay");
  EXPECT_EQ(d.Text(304), L"typed by the user");
  EXPECT_EQ(d.Text(305), L"untranslated");
  EXPECT_EQ(d.Unnamed(), (std::vector<std::wstring>{L"Shared", L"Shared"}));
}

TEST_F(TranslateTest, SixteenBitTemplateStaticsShareTheSameKey) {
  Load(L"301=Old style title\r\n65535=Shared\r\n");
  Dialog d(kOldStyleDialog);
  ASSERT_NE(d.hwnd, nullptr);
  manager_.TranslateDialog(d.hwnd, kOldStyleDialog);
  EXPECT_EQ(d.Title(), L"Old style title");
  EXPECT_EQ(d.Unnamed(), std::vector<std::wstring>{L"Shared"});
}

TEST_F(TranslateTest, ImageStaticsKeepTheirPictures) {
  for (bool withFile : {false, true}) {
    SCOPED_TRACE(withFile);
    if (withFile) {
      Load(L"310=not a picture\r\n311=nor this\r\n312=Words!\r\n");
    } else {
      NoFile();
    }
    Dialog d(302);
    ASSERT_NE(d.hwnd, nullptr);
    ASSERT_NE(::SendDlgItemMessageW(d.hwnd, 310, STM_GETICON, 0, 0), 0);
    ASSERT_NE(::SendDlgItemMessageW(d.hwnd, 311, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
    manager_.TranslateDialog(d.hwnd, 302);
    EXPECT_NE(::SendDlgItemMessageW(d.hwnd, 310, STM_GETICON, 0, 0), 0);
    EXPECT_NE(::SendDlgItemMessageW(d.hwnd, 311, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
    EXPECT_EQ(d.Text(312), withFile ? L"Words!" : L"words");
  }
}

TEST_F(TranslateTest, DialogKeepsResourceTextsWithoutAFile) {
  NoFile();
  Dialog d(kDialog);
  ASSERT_NE(d.hwnd, nullptr);
  manager_.TranslateDialog(d.hwnd, kDialog);
  manager_.TranslateDialog(nullptr, kDialog);
  manager_.TranslateDialog(reinterpret_cast<HWND>(static_cast<intptr_t>(0x7ffff0)), kDialog);
  EXPECT_EQ(d.Title(), L"Original Title");
  EXPECT_EQ(d.Text(301), L"label");
  EXPECT_EQ(d.Text(IDOK), L"OK");
}

TEST_F(TranslateTest, MenuKeepsResourceTextsWithoutCaptionList) {
  for (bool withFile : {false, true}) {
    SCOPED_TRACE(withFile);
    if (withFile) {
      Load(L"32771=Show!\r\n");
    } else {
      NoFile();
    }
    vd::UniqueMenu menu = LoadMenu();
    ASSERT_TRUE(menu);
    manager_.TranslateMenu(menu.get());
    manager_.TranslateMenu(nullptr);
    HMENU popup = ::GetSubMenu(menu.get(), 0);
    EXPECT_EQ(ItemText(menu.get(), 0), L"Top");
    EXPECT_EQ(ItemText(popup, 0), L"&Show Certificate Manager");
    EXPECT_EQ(ItemText(popup, 3), L"&About...");
  }
}

TEST_F(TranslateTest, MenuCaptionsAndItemsWithFallbackNames) {
  Load(L"128=Tray\r\n32771=Show!\r\n32774=Second item\r\n");
  vd::UniqueMenu menu = LoadMenu();
  ASSERT_TRUE(menu);
  manager_.TranslateMenu(menu.get());
  HMENU popup = ::GetSubMenu(menu.get(), 0);
  EXPECT_EQ(ItemText(menu.get(), 0), L"Tray");
  EXPECT_EQ(ItemText(menu.get(), 1), L"ID_MENU_1");
  EXPECT_EQ(ItemText(menu.get(), 2), L"ID_MENU_2");
  EXPECT_EQ(ItemText(popup, 0), L"Show!");
  EXPECT_TRUE(IsSeparator(popup, 1));
  EXPECT_EQ(ItemText(popup, 2), L"Nested");  // an item that opens a sub-menu keeps its text
  EXPECT_EQ(ItemText(::GetSubMenu(popup, 2), 0), L"IDM_32773");
  EXPECT_EQ(ItemText(popup, 3), L"IDM_32772");
  EXPECT_EQ(ItemText(::GetSubMenu(menu.get(), 1), 0), L"Second item");
  // The sub-menus still work as sub-menus after their parent item was renamed.
  EXPECT_NE(::GetSubMenu(menu.get(), 2), nullptr);
}

TEST_F(TranslateTest, CaptionListSplitsAtLineFeeds) {
  struct Row {
    const wchar_t* list;  // as written in the file
    std::vector<std::wstring> captions;
  } rows[] = {
      {L"A\\nB", {L"A", L"B", L"ID_MENU_2"}},
      {L"A\\n\\nC\\n", {L"A", L"", L"C"}},
      {L"\\nB", {L"", L"B", L"ID_MENU_2"}},
      {L"A\\nB\\nC\\nD", {L"A", L"B", L"C"}},
  };
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(row.list)));
    LangDir dir;
    ASSERT_TRUE(dir.Write(2052 + n, L"[settings]\nCodePage=2052\nLanguage=T\n[strings]\n128=" + std::wstring(row.list)));
    LanguageManager m;
    m.SetLanguageDirectory(dir.dir());
    m.SetLanguageBaseName(dir.base());
    m.SetLanguageId(2052 + n++);
    vd::UniqueMenu menu = LoadMenu();
    m.TranslateMenu(menu.get());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ItemText(menu.get(), i), row.captions[i]) << i;
  }
}

}  // namespace
