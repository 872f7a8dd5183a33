#include "scaled_art.h"

#include "dpi.h"
#include "main_ids.h"

namespace vd {

int BannerBitmapId(int dpi) {
  switch (ArtScalePercent(dpi)) {
    case 200: return IDB_BANNER_200;
    case 150: return IDB_BANNER_150;
    default: return IDB_BANNER;
  }
}

void ShowBannerForDpi(HWND dialog, int controlId) {
  // Shared: the system keeps each bitmap while the program runs, so a DPI change needs no clean-up.
  HANDLE banner = ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(BannerBitmapId(WindowDpi(dialog))),
                               IMAGE_BITMAP, 0, 0, LR_SHARED);
  if (banner) ::SendDlgItemMessageW(dialog, controlId, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(banner));
}

}  // namespace vd
