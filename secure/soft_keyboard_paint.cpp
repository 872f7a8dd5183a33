// Painting the soft keyboard: raised keys with two 3-D frames, Caps and Shift drawn pressed while latched.
#include <string>

#include "handles.h"
#include "soft_keyboard.h"

namespace vd {
namespace {

void Frame3d(HDC dc, const RECT& r, COLORREF topLeft, COLORREF bottomRight) {
  auto strip = [dc](int l, int t, int rr, int b, COLORREF c) {
    ::SetBkColor(dc, c);
    RECT s{l, t, rr, b};
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &s, nullptr, 0, nullptr);
  };
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;
  strip(r.left, r.top, r.right - 1, r.top + 1, topLeft);
  strip(r.left, r.top, r.left + 1, r.bottom - 1, topLeft);
  strip(r.right - 1, r.top, r.right, r.bottom, bottomRight);
  strip(r.left, r.bottom - 1, r.right, r.bottom, bottomRight);
}

void Shrink(RECT& r, int dx, int dy) {
  r.left += dx;
  r.right -= dx;
  r.top += dy;
  r.bottom -= dy;
}

const wchar_t* SpecialName(uint8_t code) {
  switch (code) {
    case kKeyCaps: return L"Caps";
    case kKeyShift: return L"Shift";
    case kKeyBackspace: return L"<-Bspc";
    case kKeyHome: return L"Home";
    case kKeyEnd: return L"End";
    case kKeyDel: return L"Del";
    default: return L"#ERR#";
  }
}

void Centred(HDC dc, const std::wstring& text, RECT r) {
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

}  // namespace

void SoftKeyboard::PaintAll(HDC dc) {
  const int saved = ::SaveDC(dc);
  ::IntersectClipRect(dc, metrics_.area.left, metrics_.area.top, metrics_.area.right, metrics_.area.bottom);
  SelectedObject font(dc, ::GetStockObject(DEFAULT_GUI_FONT));
  ::SetBkMode(dc, TRANSPARENT);
  for (const PlacedKey& p : PlaceKeys(keys_, metrics_)) {
    const SoftKey& key = keys_[p.index];
    const bool latched = key.IsSpecial() && ((key.shifted == kKeyCaps && caps_) || (key.shifted == kKeyShift && shift_));
    PaintKey(dc, key, p.rect, latched);
  }
  ::RestoreDC(dc, saved);
}

void SoftKeyboard::PaintKey(HDC dc, const SoftKey& key, RECT r, bool pressed) const {
  const COLORREF face = ::GetSysColor(pressed ? COLOR_BTNHIGHLIGHT : COLOR_BTNFACE);
  const COLORREF light = ::GetSysColor(COLOR_BTNHIGHLIGHT);
  const COLORREF shadow = ::GetSysColor(COLOR_BTNSHADOW);
  Shrink(r, 1, 1);
  ::SetBkColor(dc, face);
  ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
  Frame3d(dc, r, pressed ? light : shadow, shadow);
  Shrink(r, 1, 1);
  Frame3d(dc, r, pressed ? shadow : light, shadow);
  Shrink(r, 3, 1);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));

  if (key.IsSpecial()) {
    Centred(dc, SpecialName(key.shifted), r);
    return;
  }
  if (key.normal == ' ') {
    Centred(dc, L"Space", r);
    return;
  }
  if (key.IsLetter()) {
    Centred(dc, std::wstring(1, static_cast<wchar_t>(shift_ == caps_ ? key.normal : key.shifted)), r);
    return;
  }
  // Two labels: the character Shift gives top-left, the plain one bottom-right; swapped while Shift is on.
  SIZE m{};
  ::GetTextExtentPoint32W(dc, L"M", 1, &m);
  const wchar_t topLeft = static_cast<wchar_t>(shift_ ? key.normal : key.shifted);
  const wchar_t bottomRight = static_cast<wchar_t>(shift_ ? key.shifted : key.normal);
  RECT tl{r.left, r.top, r.left + m.cx, r.top + m.cy};
  RECT br{r.right - m.cx, r.bottom - m.cy, r.right, r.bottom};
  if (br.left < r.left) br.left = r.left;
  if (br.top < r.top) br.top = r.top;
  ::DrawTextW(dc, &topLeft, 1, &tl, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
  ::DrawTextW(dc, &bottomRight, 1, &br, DT_RIGHT | DT_BOTTOM | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
}

}  // namespace vd
