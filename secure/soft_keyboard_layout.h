// The on-screen keyboard's keys as data, and the geometry that painting and hit-testing share: where each
// key lies inside the keyboard's area, and which key a point falls on.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace vd {

// Codes of the special keys, kept in a key's shifted byte while its unshifted byte is 0.
enum SoftKeyCode : uint8_t { kKeyCaps = 1, kKeyShift = 2, kKeyBackspace = 3, kKeyHome = 4, kKeyEnd = 5, kKeyDel = 6 };

struct SoftKey {
  uint8_t normal;   // unshifted character; 0 for a special key or the end of a row
  uint8_t shifted;  // shifted character, or the special code
  int8_t width;     // tenths of a unit; negative: stretched to the keyboard's right edge
  bool EndsRow() const { return normal == 0 && shifted == 0; }
  bool IsSpecial() const { return normal == 0 && shifted != 0; }
  bool IsLetter() const { return normal >= 'a' && normal <= 'z'; }
};

// Four rows, each closed by an end-of-row entry.
const std::vector<SoftKey>& DefaultSoftLayout();

struct SoftKeyboardMetrics {
  RECT area{};
  int rowCount = 0;
  int widestRow = 0;  // tenths
  int unitWidth = 0;  // pixels per unit of 10 tenths
  int rowHeight = 0;
  bool Usable() const { return rowCount > 0 && widestRow > 0 && unitWidth > 0 && rowHeight > 0; }
};

int CountRows(const std::vector<SoftKey>& keys);
// The largest sum of |width| over a row, in tenths.
int WidestRow(const std::vector<SoftKey>& keys);
SoftKeyboardMetrics MeasureKeyboard(const std::vector<SoftKey>& keys, const RECT& area);

struct PlacedKey {
  size_t index;  // into the key list
  RECT rect;
};
// Every key but the end-of-row entries, in list order.
std::vector<PlacedKey> PlaceKeys(const std::vector<SoftKey>& keys, const SoftKeyboardMetrics& m);
// The index of the key under the point, or -1.
int HitTestKey(const std::vector<SoftKey>& keys, const SoftKeyboardMetrics& m, int x, int y);

// The keyboard's size at 96 DPI, scaled by "AppliedDPI" / 96 and truncated. `keyOpened` false (the
// metrics key missing) means scale 1; a missing or zero value counts as 96.
SIZE SoftKeyboardSize(bool keyOpened, DWORD appliedDpi);
// The same from the current user's "Control Panel\Desktop\WindowMetrics".
SIZE SoftKeyboardSizeOfDisplay();

}  // namespace vd
