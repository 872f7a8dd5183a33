// The soft keyboard: its geometry, the digit shuffle, the latches and what a click yields.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <set>
#include <string>

#include "registry.h"
#include "soft_keyboard.h"

namespace {

constexpr RECT kArea{0, 0, 400, 120};

TEST(SecureSoftKeyboard, LayoutRowsAndWidths) {
  const auto& keys = vd::DefaultSoftLayout();
  EXPECT_EQ(vd::CountRows(keys), 4);
  EXPECT_EQ(vd::WidestRow(keys), 150);
  std::vector<int> widths(1, 0);
  std::vector<uint8_t> lastKey;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i].EndsRow()) {
      lastKey.push_back(keys[i - 1].shifted);
      widths.push_back(0);
    } else {
      widths.back() += std::abs(keys[i].width);
    }
  }
  widths.pop_back();
  EXPECT_EQ(widths, (std::vector<int>{142, 142, 150, 135}));
  EXPECT_EQ(lastKey, (std::vector<uint8_t>{vd::kKeyBackspace, vd::kKeyDel, vd::kKeyEnd, ' '}));
}

TEST(SecureSoftKeyboard, GeometryAndHitTest) {
  const auto& keys = vd::DefaultSoftLayout();
  vd::SoftKeyboardMetrics m = vd::MeasureKeyboard(keys, kArea);
  EXPECT_EQ(m.unitWidth, 26);  // 400 / 15, truncated
  EXPECT_EQ(m.rowHeight, 30);
  struct Row {
    const char* name;
    int x, y;
    uint8_t normal, shifted;  // the key expected there; 0/0 for none
  };
  const Row rows[] = {
      {"top-left corner", 0, 0, '`', '~'},
      {"second key", 26, 10, '1', '!'},
      {"Backspace stretched to the right edge", 399, 15, 0, vd::kKeyBackspace},
      {"right of the digit row's last ordinary key", 340, 29, 0, vd::kKeyBackspace},
      {"Del stretched", 399, 45, 0, vd::kKeyDel},
      {"Caps is wide", 45, 65, 0, vd::kKeyCaps},
      {"first letter after Caps", 46, 65, 'a', 'A'},
      {"Home", 340, 75, 0, vd::kKeyHome},
      {"End stretched", 399, 75, 0, vd::kKeyEnd},
      {"Shift", 64, 100, 0, vd::kKeyShift},
      {"z after Shift", 65, 100, 'z', 'Z'},
      {"Space stretched", 399, 119, ' ', ' '},
      {"right of the area", 400, 10, 0, 0},
      {"below the area", 10, 120, 0, 0},
      {"above the area", 10, -1, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    int hit = vd::HitTestKey(keys, m, r.x, r.y);
    if (r.normal == 0 && r.shifted == 0) {
      EXPECT_EQ(hit, -1);
      continue;
    }
    ASSERT_GE(hit, 0);
    EXPECT_EQ(keys[static_cast<size_t>(hit)].normal, r.normal);
    EXPECT_EQ(keys[static_cast<size_t>(hit)].shifted, r.shifted);
  }
  // Painting and hit-testing agree: every key's centre hits that key, and the rows tile the area.
  for (const vd::PlacedKey& p : vd::PlaceKeys(keys, m)) {
    EXPECT_EQ(vd::HitTestKey(keys, m, (p.rect.left + p.rect.right) / 2, (p.rect.top + p.rect.bottom) / 2),
              static_cast<int>(p.index));
    EXPECT_LE(p.rect.right, kArea.right);
  }
}

TEST(SecureSoftKeyboard, SizeFromAppliedDpi) {
  struct Row {
    bool keyOpened;
    DWORD dpi;
    LONG cx, cy;
  };
  const Row rows[] = {{false, 144, 400, 120}, {true, 0, 400, 120},   {true, 96, 400, 120}, {true, 120, 500, 150},
                      {true, 144, 600, 180},  {true, 192, 800, 240}, {true, 100, 416, 125}};
  for (const Row& r : rows) {
    SIZE s = vd::SoftKeyboardSize(r.keyOpened, r.dpi);
    EXPECT_EQ(s.cx, r.cx) << r.dpi;
    EXPECT_EQ(s.cy, r.cy) << r.dpi;
  }
  // The same through the user's registry.
  const wchar_t* key = L"Control Panel\\Desktop\\WindowMetrics";
  std::optional<DWORD> previous = vd::RegReadDword(HKEY_CURRENT_USER, key, L"AppliedDPI");
  ASSERT_TRUE(vd::RegWriteDword(HKEY_CURRENT_USER, key, L"AppliedDPI", 144));
  SIZE s = vd::SoftKeyboardSizeOfDisplay();
  if (previous) {
    vd::RegWriteDword(HKEY_CURRENT_USER, key, L"AppliedDPI", *previous);
  } else {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"AppliedDPI");
  }
  EXPECT_EQ(s.cx, 600);
  EXPECT_EQ(s.cy, 180);
}

// The ten digit keys after the grave accent.
std::string DigitRow(const vd::SoftKeyboard& k, std::string* symbols) {
  std::string digits;
  for (size_t i = 1; i <= 10; ++i) {
    digits += static_cast<char>(k.Keys()[i].normal);
    if (symbols) *symbols += static_cast<char>(k.Keys()[i].shifted);
  }
  return digits;
}

TEST(SecureSoftKeyboard, ShuffleKeepsEveryDigitWithItsSymbol) {
  const std::map<char, char> own = {{'0', ')'}, {'1', '!'}, {'2', '@'}, {'3', '#'}, {'4', '$'},
                                    {'5', '%'}, {'6', '^'}, {'7', '&'}, {'8', '*'}, {'9', '('}};
  vd::SoftKeyboard k;
  k.BuildLayout();
  k.ShuffleDigits(false);
  EXPECT_EQ(DigitRow(k, nullptr), "0123456789");
  std::vector<vd::SoftKey> lettersBefore(k.Keys().begin() + 11, k.Keys().end());
  std::string previous;
  int differing = 0;
  for (int round = 0; round < 20; ++round) {
    k.ShuffleDigits(true);
    std::string symbols;
    std::string digits = DigitRow(k, &symbols);
    EXPECT_EQ(std::set<char>(digits.begin(), digits.end()).size(), 10u) << digits;
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(own.at(digits[i]), symbols[i]) << digits << " " << symbols;
    if (!previous.empty() && digits != previous) ++differing;
    previous = digits;
  }
  EXPECT_GE(differing, 15) << "of 19 consecutive pairs";
  std::vector<vd::SoftKey> lettersAfter(k.Keys().begin() + 11, k.Keys().end());
  for (size_t i = 0; i < lettersBefore.size(); ++i) {
    EXPECT_EQ(lettersBefore[i].normal, lettersAfter[i].normal);
    EXPECT_EQ(lettersBefore[i].shifted, lettersAfter[i].shifted);
  }
}

class ClickTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 120, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window_);
    k_.BuildLayout();
    k_.ShuffleDigits(false);
    k_.SetPressDelay(0);
    k_.LayOutAndPaint(window_, kArea);
  }
  void TearDown() override { ::DestroyWindow(window_); }

  // Clicks the centre of the first key whose unshifted character (or special code) is `key`.
  void Click(uint8_t key, bool special = false) {
    for (size_t i = 0; i < k_.Keys().size(); ++i) {
      const vd::SoftKey& s = k_.Keys()[i];
      if (special ? (s.IsSpecial() && s.shifted == key) : (!s.IsSpecial() && s.normal == key)) {
        RECT r;
        ASSERT_TRUE(k_.KeyRect(i, &r));
        k_.Click((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        return;
      }
    }
    FAIL() << "no key " << int(key);
  }

  HWND window_ = nullptr;
  vd::SoftKeyboard k_;
};

TEST_F(ClickTest, ResultsFollowTheLatches) {
  struct Step {
    uint8_t key;
    bool special;
    bool hit;
    bool virtualKey;
    unsigned result;
    bool shift, caps;  // latches after the click
  };
  const Step steps[] = {
      {'a', false, true, false, 'a', false, false},
      {'1', false, true, false, '1', false, false},
      {vd::kKeyShift, true, false, false, 0, true, false},
      {'a', false, true, false, 'A', true, false},  // Shift stays latched after a key
      {'1', false, true, false, '!', true, false},
      {'-', false, true, false, '_', true, false},
      {vd::kKeyCaps, true, false, false, 0, true, true},
      {'a', false, true, false, 'a', true, true},  // both latched: small letters
      {'1', false, true, false, '!', true, true},
      {vd::kKeyShift, true, false, false, 0, false, true},
      {'q', false, true, false, 'Q', false, true},
      {'1', false, true, false, '1', false, true},
      {' ', false, true, false, ' ', false, true},
      {vd::kKeyBackspace, true, true, true, VK_BACK, false, true},
      {vd::kKeyHome, true, true, true, VK_HOME, false, true},
      {vd::kKeyEnd, true, true, true, VK_END, false, true},
      {vd::kKeyDel, true, true, true, VK_DELETE, false, true},
  };
  int n = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(n++);
    Click(s.key, s.special);
    EXPECT_EQ(k_.KeyHit(), s.hit);
    EXPECT_EQ(k_.IsVirtualKey(), s.virtualKey);
    if (s.hit) {
      EXPECT_EQ(k_.Result(), s.result);
    }
    EXPECT_EQ(k_.ShiftLatched(), s.shift);
    EXPECT_EQ(k_.CapsLatched(), s.caps);
  }
  k_.Click(500, 10);  // outside: nothing hit
  EXPECT_FALSE(k_.KeyHit());
}

}  // namespace
