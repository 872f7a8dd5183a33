#include "soft_keyboard_layout.h"

#include <cstdlib>

#include "handles.h"

namespace vd {
namespace {

constexpr int kBaseWidth = 400;
constexpr int kBaseHeight = 120;
constexpr SoftKey kRowEnd{0, 0, 0};

SoftKey Sp(SoftKeyCode code, int8_t width) { return SoftKey{0, code, width}; }

std::vector<SoftKey> BuildDefault() {
  std::vector<SoftKey> k;
  const char* row0n = "`1234567890-=";
  const char* row0s = "~!@#$%^&*()_+";
  for (int i = 0; row0n[i]; ++i) k.push_back({uint8_t(row0n[i]), uint8_t(row0s[i]), 10});
  k.push_back(Sp(kKeyBackspace, -12));
  k.push_back(kRowEnd);
  const char* row1n = "qwertyuiop[]\\";
  const char* row1s = "QWERTYUIOP{}|";
  for (int i = 0; row1n[i]; ++i) k.push_back({uint8_t(row1n[i]), uint8_t(row1s[i]), 10});
  k.push_back(Sp(kKeyDel, -12));
  k.push_back(kRowEnd);
  k.push_back(Sp(kKeyCaps, 18));
  const char* row2n = "asdfghjkl;'";
  const char* row2s = "ASDFGHJKL:\"";
  for (int i = 0; row2n[i]; ++i) k.push_back({uint8_t(row2n[i]), uint8_t(row2s[i]), 10});
  k.push_back(Sp(kKeyHome, 12));
  k.push_back(Sp(kKeyEnd, -10));
  k.push_back(kRowEnd);
  k.push_back(Sp(kKeyShift, 25));
  const char* row3n = "zxcvbnm,./";
  const char* row3s = "ZXCVBNM<>?";
  for (int i = 0; row3n[i]; ++i) k.push_back({uint8_t(row3n[i]), uint8_t(row3s[i]), 10});
  k.push_back({' ', ' ', -10});
  k.push_back(kRowEnd);
  return k;
}

// Walks the keys of every row from the area's left edge; calls f(index, rect, row) for each key.
template <typename F>
void WalkKeys(const std::vector<SoftKey>& keys, const SoftKeyboardMetrics& m, F f) {
  int x = m.area.left;
  int y = m.area.top;
  int row = 0;
  for (size_t i = 0; i < keys.size(); ++i) {
    const SoftKey& key = keys[i];
    if (key.EndsRow()) {
      x = m.area.left;
      y += m.rowHeight;
      ++row;
      continue;
    }
    RECT r{x, y, x + std::abs(key.width) * m.unitWidth / 10, y + m.rowHeight};
    if (key.width < 0) r.right = m.area.right;
    if (!f(i, r, row)) return;
    x = r.right;
  }
}

}  // namespace

const std::vector<SoftKey>& DefaultSoftLayout() {
  static const std::vector<SoftKey> layout = BuildDefault();
  return layout;
}

int CountRows(const std::vector<SoftKey>& keys) {
  int rows = 0;
  for (const SoftKey& k : keys) rows += k.EndsRow();
  return rows;
}

int WidestRow(const std::vector<SoftKey>& keys) {
  int widest = 0, row = 0;
  for (const SoftKey& k : keys) {
    if (k.EndsRow()) {
      if (row > widest) widest = row;
      row = 0;
    } else {
      row += std::abs(k.width);
    }
  }
  return row > widest ? row : widest;
}

SoftKeyboardMetrics MeasureKeyboard(const std::vector<SoftKey>& keys, const RECT& area) {
  SoftKeyboardMetrics m;
  m.area = area;
  m.rowCount = CountRows(keys);
  m.widestRow = WidestRow(keys);
  if (m.rowCount > 0) m.rowHeight = (area.bottom - area.top) / m.rowCount;
  if (m.widestRow > 0) m.unitWidth = (area.right - area.left) * 10 / m.widestRow;
  return m;
}

std::vector<PlacedKey> PlaceKeys(const std::vector<SoftKey>& keys, const SoftKeyboardMetrics& m) {
  std::vector<PlacedKey> placed;
  if (!m.Usable()) return placed;
  WalkKeys(keys, m, [&](size_t i, const RECT& r, int) {
    placed.push_back({i, r});
    return true;
  });
  return placed;
}

int HitTestKey(const std::vector<SoftKey>& keys, const SoftKeyboardMetrics& m, int x, int y) {
  if (!m.Usable()) return -1;
  if (x < m.area.left || x >= m.area.right || y < m.area.top || y >= m.area.bottom) return -1;
  const int row = (y - m.area.top) / m.rowHeight;
  int hit = -1;
  WalkKeys(keys, m, [&](size_t i, const RECT& r, int keyRow) {
    if (keyRow > row) return false;
    if (keyRow == row && x >= r.left && x < r.right) {
      hit = static_cast<int>(i);
      return false;
    }
    return true;
  });
  return hit;
}

SIZE SoftKeyboardSize(bool keyOpened, DWORD appliedDpi) {
  if (!keyOpened) return SIZE{kBaseWidth, kBaseHeight};
  const double scale = (appliedDpi == 0 ? 96.0 : static_cast<double>(appliedDpi)) / 96.0;
  return SIZE{static_cast<LONG>(kBaseWidth * scale), static_cast<LONG>(kBaseHeight * scale)};
}

SIZE SoftKeyboardSizeOfDisplay() {
  UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop\\WindowMetrics", 0, KEY_QUERY_VALUE, key.put()) !=
      ERROR_SUCCESS)
    return SoftKeyboardSize(false, 0);
  DWORD value = 0, size = sizeof value, type = 0;
  if (::RegQueryValueExW(key.get(), L"AppliedDPI", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value)
    value = 0;
  return SoftKeyboardSize(true, value);
}

}  // namespace vd
