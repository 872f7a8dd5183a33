// The soft keyboard's state: layout, digit shuffle, latches and the result of a click.
#include "soft_keyboard.h"

#include <string>

#include "handles.h"
#include "secret_memory.h"

namespace vd {

void SoftKeyboard::BuildLayout() {
  if (keys_.empty()) keys_ = DefaultSoftLayout();
}

void SoftKeyboard::ShuffleDigits(bool on) {
  size_t first = keys_.size();
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i].normal == '`' && keys_[i].shifted == '~') {
      first = i + 1;
      break;
    }
  }
  if (first + 10 > keys_.size()) return;
  // Position i of both strings belong together: a digit keeps its own symbol wherever it lands.
  std::string digits = "0123456789";
  std::string symbols = ")!@#$%^&*(";
  for (size_t k = 0; k < 10; ++k) {
    const size_t c = on ? RandomBelow(static_cast<unsigned>(digits.size())) : 0;
    keys_[first + k].normal = static_cast<uint8_t>(digits[c]);
    keys_[first + k].shifted = static_cast<uint8_t>(symbols[c]);
    digits.erase(c, 1);
    symbols.erase(c, 1);
  }
}

bool SoftKeyboard::KeyRect(size_t index, RECT* rect) const {
  for (const PlacedKey& p : PlaceKeys(keys_, metrics_)) {
    if (p.index == index) {
      *rect = p.rect;
      return true;
    }
  }
  return false;
}

void SoftKeyboard::LayOutAndPaint(HWND window, const RECT& area) {
  window_ = window;
  metrics_ = MeasureKeyboard(keys_, area);
  if (!window || !::IsWindowVisible(window) || keys_.empty() || !metrics_.Usable()) return;
  WindowDc dc(window);
  if (dc) PaintAll(dc.get());
}

void SoftKeyboard::PaintOne(size_t index, bool pressed) {
  RECT r;
  if (!window_ || !KeyRect(index, &r)) return;
  WindowDc dc(window_);
  if (!dc) return;
  const int saved = ::SaveDC(dc.get());
  ::IntersectClipRect(dc.get(), metrics_.area.left, metrics_.area.top, metrics_.area.right, metrics_.area.bottom);
  SelectedObject font(dc.get(), ::GetStockObject(DEFAULT_GUI_FONT));
  ::SetBkMode(dc.get(), TRANSPARENT);
  PaintKey(dc.get(), keys_[index], r, pressed);
  ::RestoreDC(dc.get(), saved);
}

void SoftKeyboard::Click(int x, int y) {
  keyHit_ = false;
  virtualKey_ = false;
  if (!window_) return;
  const int index = HitTestKey(keys_, metrics_, x, y);
  if (index < 0) return;
  const SoftKey& key = keys_[static_cast<size_t>(index)];
  if (key.IsSpecial() && (key.shifted == kKeyCaps || key.shifted == kKeyShift)) {
    bool& latch = key.shifted == kKeyCaps ? caps_ : shift_;
    latch = !latch;
    // Every label may change with a latch.
    LayOutAndPaint(window_, metrics_.area);
    PaintOne(static_cast<size_t>(index), latch);
    return;
  }
  PaintOne(static_cast<size_t>(index), true);
  if (pressDelayMs_) ::Sleep(pressDelayMs_);
  PaintOne(static_cast<size_t>(index), false);
  keyHit_ = true;
  virtualKey_ = key.IsSpecial();
  result_ = ResultOf(key);
}

unsigned SoftKeyboard::ResultOf(const SoftKey& key) const {
  if (key.IsSpecial()) {
    switch (key.shifted) {
      case kKeyBackspace: return VK_BACK;
      case kKeyHome: return VK_HOME;
      case kKeyEnd: return VK_END;
      case kKeyDel: return VK_DELETE;
      default: return 0;
    }
  }
  if (key.IsLetter()) return shift_ != caps_ ? key.shifted : key.normal;
  return shift_ ? key.shifted : key.normal;
}

}  // namespace vd
