#include "scaled_art.h"

#include "dpi.h"
#include "common_ids.h"

namespace vd {
namespace {

struct ArtSteps {
  int at100, at150, at200;
};
constexpr ArtSteps kArt[] = {
    {IDB_BANNER, IDB_BANNER_150, IDB_BANNER_200},
    {IDB_NOTIFIER_SKIN, IDB_NOTIFIER_SKIN_150, IDB_NOTIFIER_SKIN_200},
};

}  // namespace

int ScaledArtId(int baseId, int dpi) {
  for (const ArtSteps& art : kArt) {
    if (art.at100 != baseId) continue;
    switch (ArtScalePercent(dpi)) {
      case 200: return art.at200;
      case 150: return art.at150;
      default: return art.at100;
    }
  }
  return baseId;
}

void ShowBannerForDpi(HWND dialog, int controlId) {
  // Shared: the system keeps each bitmap while the program runs, so a DPI change needs no clean-up.
  HANDLE banner = ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(ScaledArtId(IDB_BANNER, WindowDpi(dialog))),
                               IMAGE_BITMAP, 0, 0, LR_SHARED);
  if (banner) ::SendDlgItemMessageW(dialog, controlId, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(banner));
}

}  // namespace vd
