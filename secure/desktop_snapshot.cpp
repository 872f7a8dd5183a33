#include "desktop_snapshot.h"

namespace vd {
namespace {

constexpr DWORD kCopyWithLayered = SRCCOPY | CAPTUREBLT;  // 0x40CC0020

}  // namespace

void DesktopSnapshot::Free() {
  if (dc_ && original_) ::SelectObject(dc_.get(), original_);
  original_ = nullptr;
  bitmap_.reset();
  dc_.reset();
  size_ = SIZE{};
}

HBITMAP DesktopSnapshot::Capture() {
  WindowDc screen(::GetDesktopWindow());
  if (!screen) return nullptr;
  Free();
  const int cx = ::GetSystemMetrics(SM_CXSCREEN), cy = ::GetSystemMetrics(SM_CYSCREEN);
  dc_.reset(::CreateCompatibleDC(screen.get()));
  bitmap_.reset(::CreateCompatibleBitmap(screen.get(), cx, cy));
  if (!dc_ || !bitmap_ || cx <= 0 || cy <= 0) {
    Free();
    return nullptr;
  }
  original_ = ::SelectObject(dc_.get(), bitmap_.get());
  size_ = SIZE{cx, cy};
  if (!::BitBlt(dc_.get(), 0, 0, cx, cy, screen.get(), 0, 0, kCopyWithLayered)) {
    Free();
    return nullptr;
  }
  // A new compatible bitmap is black; blending it at half strength halves every channel.
  UniqueMemDc blackDc(::CreateCompatibleDC(screen.get()));
  UniqueBitmap black(::CreateCompatibleBitmap(screen.get(), cx, cy));
  bool dimmed = false;
  if (blackDc && black) {
    SelectedObject selected(blackDc.get(), black.get());
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 0x80, 0};
    dimmed = ::AlphaBlend(dc_.get(), 0, 0, cx, cy, blackDc.get(), 0, 0, cx, cy, blend) != FALSE;
  }
  if (!dimmed) {
    Free();
    return nullptr;
  }
  return bitmap_.get();
}

}  // namespace vd
