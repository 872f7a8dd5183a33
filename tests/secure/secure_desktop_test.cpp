// The isolated desktop: its name, the lock on the home desktop, the accessibility hot keys, and that an
// aborted run leaves the user's desktop as it was. Switching is replaced where Wine only pretends to.
#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "desktop_platform.h"
#include "keyboard_guard.h"
#include "secure_desktop.h"
#include "text.h"

namespace {

// Settings held by a fake SystemParametersInfoW, and every set it was asked for.
struct FakeAccessibility {
  STICKYKEYS sticky{sizeof(STICKYKEYS), 0};
  TOGGLEKEYS toggle{sizeof(TOGGLEKEYS), 0};
  FILTERKEYS filter{sizeof(FILTERKEYS), 0, 0, 0, 0, 0};
  bool failGets = false;
  int sets = 0;
  std::vector<HDESK> switches;
  bool failSwitch = false;
};
FakeAccessibility* g_fake = nullptr;

BOOL WINAPI FakeSpi(UINT action, UINT, PVOID data, UINT) {
  FakeAccessibility& f = *g_fake;
  switch (action) {
    case SPI_GETSTICKYKEYS: if (f.failGets) return FALSE; *static_cast<STICKYKEYS*>(data) = f.sticky; return TRUE;
    case SPI_GETTOGGLEKEYS: if (f.failGets) return FALSE; *static_cast<TOGGLEKEYS*>(data) = f.toggle; return TRUE;
    case SPI_GETFILTERKEYS: if (f.failGets) return FALSE; *static_cast<FILTERKEYS*>(data) = f.filter; return TRUE;
    case SPI_SETSTICKYKEYS: ++f.sets; f.sticky = *static_cast<STICKYKEYS*>(data); return TRUE;
    case SPI_SETTOGGLEKEYS: ++f.sets; f.toggle = *static_cast<TOGGLEKEYS*>(data); return TRUE;
    case SPI_SETFILTERKEYS: ++f.sets; f.filter = *static_cast<FILTERKEYS*>(data); return TRUE;
    default: return FALSE;
  }
}

BOOL WINAPI FakeSwitch(HDESK desktop) {
  g_fake->switches.push_back(desktop);
  return !g_fake->failSwitch;
}

class SecureDesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &fake_;
    saved_ = vd::SecureDesktopPlatform();
    vd::SecureDesktopPlatform().systemParameters = FakeSpi;
    vd::SecureDesktopPlatform().switchDesktop = FakeSwitch;
  }
  void TearDown() override {
    vd::SecureDesktopPlatform() = saved_;
    g_fake = nullptr;
  }
  FakeAccessibility fake_;
  vd::DesktopPlatform saved_;
};

TEST(SecureDesktopName, FormatAndUniqueness) {
  const std::wregex shape(L"Brindlemark-" + std::to_wstring(::GetCurrentProcessId()) + L"-[0-9A-F]{16}");
  std::set<std::wstring> names;
  for (int i = 0; i < 200; ++i) {
    std::wstring name = vd::SecureDesktop::MakeName();
    ASSERT_TRUE(std::regex_match(name, shape)) << vd::WideToUtf8(name);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 200u);
}

TEST_F(SecureDesktopTest, HotKeysSuppressedWhileShownAndRestoredAfter) {
  constexpr DWORD on = 0x1, hotkey = 0x4, confirm = 0x8, other = 0x40;
  struct Row {
    const char* name;
    DWORD sticky, toggle, filter;          // before
    DWORD duringSticky, duringToggle, duringFilter;
  };
  const Row rows[] = {
      {"hot keys of features that are off go", hotkey | confirm | other, hotkey, confirm,
       other, 0, 0},
      {"a feature that is on stays as it is", on | hotkey | confirm, hotkey | confirm, on | hotkey,
       on | hotkey | confirm, 0, on | hotkey},
      {"nothing to suppress", other, 0, 0, other, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    fake_.sticky.dwFlags = r.sticky;
    fake_.toggle.dwFlags = r.toggle;
    fake_.filter.dwFlags = r.filter;
    vd::SecureDesktop d;
    ASSERT_TRUE(d.Create());
    ASSERT_TRUE(d.SwitchTo());
    EXPECT_EQ(fake_.sticky.dwFlags, r.duringSticky);
    EXPECT_EQ(fake_.toggle.dwFlags, r.duringToggle);
    EXPECT_EQ(fake_.filter.dwFlags, r.duringFilter);
    d.SwitchBack();
    EXPECT_EQ(fake_.sticky.dwFlags, r.sticky);
    EXPECT_EQ(fake_.toggle.dwFlags, r.toggle);
    EXPECT_EQ(fake_.filter.dwFlags, r.filter);
    EXPECT_EQ(fake_.switches.back(), d.Home());
  }
}

TEST_F(SecureDesktopTest, AnAbortedRunIsUndoneWhenTheDesktopCloses) {
  fake_.sticky.dwFlags = 0x4 | 0x8;
  HDESK home = nullptr;
  {
    vd::SecureDesktop d;
    home = d.Home();
    ASSERT_TRUE(d.Create());
    ASSERT_TRUE(d.SwitchTo());
    EXPECT_EQ(fake_.sticky.dwFlags, 0u);
    ASSERT_TRUE(vd::InstallKeyboardGuard(nullptr));
  }  // no SwitchBack: the run was aborted
  EXPECT_EQ(fake_.sticky.dwFlags, 0x4u | 0x8u);
  ASSERT_FALSE(fake_.switches.empty());
  EXPECT_EQ(fake_.switches.back(), home) << "the user is taken back home";
  EXPECT_FALSE(vd::KeyboardGuardInstalled());
}

TEST_F(SecureDesktopTest, SettingsThatCannotBeReadAreNeverWritten) {
  fake_.failGets = true;
  vd::SecureDesktop d;
  ASSERT_TRUE(d.Create());
  ASSERT_TRUE(d.SwitchTo());
  d.SwitchBack();
  EXPECT_EQ(fake_.sets, 0);
}

TEST_F(SecureDesktopTest, AFailedSwitchChangesNoSetting) {
  fake_.failSwitch = true;
  fake_.sticky.dwFlags = 0x4;
  vd::SecureDesktop d;
  ASSERT_TRUE(d.Create());
  EXPECT_FALSE(d.SwitchTo());
  d.SwitchBack();
  EXPECT_EQ(fake_.sets, 0);
  EXPECT_EQ(fake_.sticky.dwFlags, 0x4u);
}

TEST_F(SecureDesktopTest, WithoutADesktopTheSwitchFails) {
  vd::SecureDesktop d;
  EXPECT_FALSE(d.SwitchTo());
  EXPECT_TRUE(fake_.switches.empty());
}

// The home desktop's DACL as text, or "unreadable".
std::wstring DaclText(HDESK desk) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  PACL dacl = nullptr;
  if (::GetSecurityInfo(desk, SE_WINDOW_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd) !=
      ERROR_SUCCESS)
    return L"unreadable";
  LPWSTR text = nullptr;
  std::wstring out = L"unconvertible";
  if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                             nullptr)) {
    out = text;
    ::LocalFree(text);
  }
  ::LocalFree(sd);
  return out;
}

// A home desktop of the test's own, opened with the rights the lock needs, given a DACL first (Wine's
// desktops start without any descriptor, a state no call can bring back).
HDESK MakeHome(const wchar_t* sddl) {
  std::wstring name = L"vdtest-home-" + vd::SecureDesktop::MakeName();
  HDESK h = ::CreateDesktopW(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL | READ_CONTROL | WRITE_DAC, nullptr);
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!h || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr)) return h;
  ::SetKernelObjectSecurity(h, DACL_SECURITY_INFORMATION, sd);
  ::LocalFree(sd);
  return h;
}

TEST_F(SecureDesktopTest, HomeDesktopLockedWhileShownAndItsListRestored) {
  struct Row {
    const char* name;
    const wchar_t* sddl;
    bool abort;
  };
  const Row rows[] = {
      {"an explicit list, switched back", L"D:(A;;GA;;;WD)(A;;GR;;;BA)", false},
      {"an explicit list, aborted", L"D:(A;;GA;;;WD)(A;;GR;;;BA)", true},
      {"a list that denies, aborted", L"D:(D;;GW;;;BG)(A;;GA;;;WD)", true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    HDESK home = MakeHome(r.sddl);
    ASSERT_TRUE(home) << ::GetLastError();
    const std::wstring before = DaclText(home);
    ASSERT_NE(before, L"unreadable");
    ASSERT_NE(before, L"");
    {
      vd::SecureDesktop d(home);
      ASSERT_TRUE(d.Create());
      ASSERT_TRUE(d.SwitchTo());
      EXPECT_TRUE(d.HomeLocked());
      const std::wstring during = DaclText(home);
      EXPECT_EQ(during, L"D:(D;;CR;;;WD)") << "only a deny of switching for everyone";
      if (!r.abort) d.SwitchBack();
    }
    EXPECT_EQ(DaclText(home), before);
    ::CloseDesktop(home);
  }
}

TEST(SecureKeyboardGuard, FiresOnCtrlAltDelAndWinL) {
  struct Row {
    DWORD vk;
    bool win, ctrl, alt, fires;
  };
  const Row rows[] = {
      {'L', true, false, false, true},          {'L', false, false, false, false},
      {'L', false, true, true, false},          {VK_DELETE, false, true, true, true},
      {VK_DELETE, false, true, false, false},   {VK_DELETE, false, false, true, false},
      {VK_DELETE, true, false, false, false},   {'K', true, false, false, false},
      {VK_ESCAPE, false, true, true, false},
  };
  for (const Row& r : rows)
    EXPECT_EQ(vd::KeyboardGuardFires(r.vk, r.win, r.ctrl, r.alt), r.fires)
        << r.vk << " win " << r.win << " ctrl " << r.ctrl << " alt " << r.alt;
}

}  // namespace
