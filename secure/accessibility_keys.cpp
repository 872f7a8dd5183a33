#include "accessibility_keys.h"

#include "desktop_platform.h"

namespace vd {
namespace {

// The same bit layout for the three features: on, hot key active, confirm hot key.
constexpr DWORD kFeatureOn = 0x1;
constexpr DWORD kHotKeyBits = 0x4 | 0x8;

template <typename T>
bool Read(UINT getAction, T& value) {
  value = T{};
  value.cbSize = sizeof value;
  return SecureDesktopPlatform().systemParameters(getAction, sizeof value, &value, 0) != FALSE;
}

template <typename T>
void Write(UINT setAction, const T& value) {
  T copy = value;
  // Wine refuses these with error 1439; there is nothing to restore then either.
  SecureDesktopPlatform().systemParameters(setAction, sizeof copy, &copy, 0);
}

template <typename T>
void Suppress(UINT setAction, const T& saved) {
  if (saved.dwFlags & kFeatureOn) return;  // a feature in use stays exactly as the user has it
  T copy = saved;
  copy.dwFlags &= ~kHotKeyBits;
  Write(setAction, copy);
}

}  // namespace

void AccessibilityHotKeys::SaveAndSuppress() {
  haveSticky_ = Read(SPI_GETSTICKYKEYS, sticky_);
  haveToggle_ = Read(SPI_GETTOGGLEKEYS, toggle_);
  haveFilter_ = Read(SPI_GETFILTERKEYS, filter_);
  // A setting that could not be read is not changed: restoring it would write an empty structure.
  if (haveSticky_) Suppress(SPI_SETSTICKYKEYS, sticky_);
  if (haveToggle_) Suppress(SPI_SETTOGGLEKEYS, toggle_);
  if (haveFilter_) Suppress(SPI_SETFILTERKEYS, filter_);
  suppressed_ = true;
}

void AccessibilityHotKeys::Restore() {
  if (!suppressed_) return;
  if (haveSticky_) Write(SPI_SETSTICKYKEYS, sticky_);
  if (haveToggle_) Write(SPI_SETTOGGLEKEYS, toggle_);
  if (haveFilter_) Write(SPI_SETFILTERKEYS, filter_);
  suppressed_ = false;
}

}  // namespace vd
