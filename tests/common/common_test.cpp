#include <gtest/gtest.h>

#include "handles.h"
#include "registry.h"
#include "text.h"

namespace {

bool IsOpenHandle(HANDLE h) {
  DWORD flags = 0;
  return ::GetHandleInformation(h, &flags) != 0;
}

TEST(UniqueHandle, ClosesOnScopeExitAndTransfersOnMove) {
  HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  {
    vd::UniqueKernelHandle a(raw);
    vd::UniqueKernelHandle b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.get(), raw);
    vd::UniqueKernelHandle c;
    c = std::move(b);
    EXPECT_TRUE(IsOpenHandle(raw));
  }
  EXPECT_FALSE(IsOpenHandle(raw));
}

TEST(UniqueHandle, ResetAndPutCloseThePreviousHandle) {
  HANDLE first = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE second = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  vd::UniqueKernelHandle h(first);
  h.reset(second);
  EXPECT_FALSE(IsOpenHandle(first));
  HANDLE* slot = h.put();
  EXPECT_FALSE(IsOpenHandle(second));
  EXPECT_EQ(*slot, nullptr);
  HANDLE third = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  vd::UniqueKernelHandle r(third);
  EXPECT_EQ(r.release(), third);
  EXPECT_TRUE(IsOpenHandle(third));
  ::CloseHandle(third);
}

TEST(UniqueHandle, FileHandleTreatsInvalidValueAsEmpty) {
  vd::UniqueFile f(::CreateFileW(L"C:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(f);
  EXPECT_EQ(f.get(), INVALID_HANDLE_VALUE);
}

TEST(UniqueHandle, CertStoreAndRegistryKeyOwnersRelease) {
  vd::UniqueCertStore store(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  EXPECT_TRUE(store);
  vd::UniqueRegKey key;
  EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()), ERROR_SUCCESS);
  EXPECT_TRUE(key);
}

TEST(Text, RoundTripsUtf8AnsiAndWide) {
  const std::string utf8 = "Zo\xC3\xAB \xE5\xBC\xA0";
  std::wstring w = vd::Utf8ToWide(utf8);
  EXPECT_EQ(w, L"Zo\u00EB \u5F20");
  EXPECT_EQ(vd::WideToUtf8(w), utf8);
  EXPECT_EQ(vd::AnsiToWide("Slot 1"), L"Slot 1");
  EXPECT_EQ(vd::WideToAnsi(L"Slot 1"), "Slot 1");
  EXPECT_EQ(vd::Utf8ToWide(""), L"");
}

TEST(Text, FixedFieldStopsAtSizeNulAndTrailingBlanks) {
  struct Case {
    const char* field;
    size_t size;
    const char* want;
  } cases[] = {
      {"Opalix Token                    ", 32, "Opalix Token"},
      {"ABCDEFGH", 4, "ABCD"},  // no terminator inside the field: never read beyond it
      {"AB\0CD   ", 8, "AB"},
      {"        ", 8, ""},
      {"  lead", 6, "  lead"},
  };
  for (const Case& c : cases) EXPECT_EQ(vd::FixedField(c.field, c.size), c.want) << c.field;
}

TEST(Text, EqualsNoCase) {
  EXPECT_TRUE(vd::EqualsNoCase(L"Kestrova CSP", L"kestrova csp"));
  EXPECT_FALSE(vd::EqualsNoCase(L"Kestrova CSP", L"Kestrova CSP2"));
}

class RegistryTest : public ::testing::Test {
 protected:
  const wchar_t* key_ = L"Software\\VardeckTests\\Common";
  void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, key_); }
};

TEST_F(RegistryTest, WritesAndReadsBackEachType) {
  ASSERT_TRUE(vd::RegWriteString(HKEY_CURRENT_USER, key_, L"s", L"hello"));
  ASSERT_TRUE(vd::RegWriteDword(HKEY_CURRENT_USER, key_, L"d", 500));
  EXPECT_EQ(vd::RegReadString(HKEY_CURRENT_USER, key_, L"s").value_or(L"?"), L"hello");
  EXPECT_EQ(vd::RegReadDword(HKEY_CURRENT_USER, key_, L"d").value_or(0), 500u);
  EXPECT_FALSE(vd::RegReadDword(HKEY_CURRENT_USER, key_, L"s"));  // wrong type is absent, not garbage
  EXPECT_FALSE(vd::RegReadString(HKEY_CURRENT_USER, key_, L"missing"));
  EXPECT_FALSE(vd::RegReadString(HKEY_CURRENT_USER, L"Software\\VardeckTests\\Nope", L"s"));
}

TEST_F(RegistryTest, StringWithoutTerminatorOrWithOddLengthIsReadSafely) {
  const char bytes[] = {'1', 0, '2', 0, '3'};  // 5 bytes: no terminator, odd tail
  ASSERT_TRUE(vd::RegWriteBytes(HKEY_CURRENT_USER, key_, L"odd", REG_SZ, bytes, sizeof bytes));
  EXPECT_EQ(vd::RegReadString(HKEY_CURRENT_USER, key_, L"odd").value_or(L"?"), L"12");
  auto raw = vd::RegReadBytes(HKEY_CURRENT_USER, key_, L"odd");
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->size(), sizeof bytes);
}

}  // namespace

namespace owners {

LRESULT CALLBACK PassOn(int code, WPARAM wp, LPARAM lp) { return ::CallNextHookEx(nullptr, code, wp, lp); }

// The rest of the owners, each released when its scope ends.
TEST(Owners, GdiImageListDesktopHookAndLibraryAreReleased) {
  HBITMAP rawBitmap = nullptr;
  {
    vd::UniqueBitmap bitmap(::CreateBitmap(4, 4, 1, 32, nullptr));
    rawBitmap = bitmap.get();
    ASSERT_NE(::GetObjectType(rawBitmap), 0u);
  }
  EXPECT_EQ(::GetObjectType(rawBitmap), 0u) << "deleted";

  HPEN rawPen = nullptr;
  {
    vd::UniquePen pen(::CreatePen(PS_SOLID, 1, 0));
    rawPen = pen.get();
  }
  EXPECT_EQ(::GetObjectType(rawPen), 0u);

  HIMAGELIST rawList = nullptr;
  {
    vd::UniqueImageList list(ImageList_Create(16, 16, ILC_COLOR24, 1, 1));
    rawList = list.get();
    ASSERT_TRUE(list);
    EXPECT_EQ(ImageList_GetImageCount(rawList), 0);
  }
  EXPECT_FALSE(ImageList_Destroy(rawList)) << "already destroyed";

  {
    vd::UniqueDesktop desktop(::CreateDesktopW(L"vdtest-owner-desktop", nullptr, nullptr, 0, GENERIC_ALL, nullptr));
    ASSERT_TRUE(desktop);
    vd::UniqueDesktop moved(std::move(desktop));
    EXPECT_FALSE(desktop);
    EXPECT_TRUE(moved);
  }

  HHOOK rawHook = nullptr;
  {
    vd::UniqueHook hook(::SetWindowsHookExW(WH_KEYBOARD_LL, PassOn, ::GetModuleHandleW(nullptr), 0));
    rawHook = hook.get();
    ASSERT_TRUE(hook);
  }
  EXPECT_FALSE(::UnhookWindowsHookEx(rawHook)) << "already removed";

  {
    vd::UniqueModule library(::LoadLibraryW(L"cryptui.dll"));
    ASSERT_TRUE(library);
    EXPECT_NE(::GetModuleHandleW(L"cryptui.dll"), nullptr);
  }
  EXPECT_EQ(::GetModuleHandleW(L"cryptui.dll"), nullptr) << "the last reference went";
}

TEST(Owners, SelectedObjectRestoresThePreviousOneAndWindowDcIsReleased) {
  vd::WindowDc screen;
  ASSERT_TRUE(screen);
  vd::UniqueMemDc mem(::CreateCompatibleDC(screen.get()));
  HGDIOBJ original = ::GetCurrentObject(mem.get(), OBJ_FONT);
  vd::UniqueFont font(::CreateFontW(-12, 0, 0, 0, FW_BOLD, 0, 0, 0, 0, 0, 0, 0, 0, L"Tahoma"));
  {
    vd::SelectedObject selected(mem.get(), font.get());
    EXPECT_EQ(::GetCurrentObject(mem.get(), OBJ_FONT), font.get());
    vd::SelectedObject none(mem.get(), nullptr);  // nothing to select: nothing to restore
  }
  EXPECT_EQ(::GetCurrentObject(mem.get(), OBJ_FONT), original);
}

TEST(Owners, CriticalSectionIsReentrantForItsOwner) {
  vd::CriticalSection cs;
  vd::CsLock outer(cs);
  vd::CsLock inner(cs);
  EXPECT_TRUE(::TryEnterCriticalSection(&cs.get()));
  ::LeaveCriticalSection(&cs.get());
}

}  // namespace owners
