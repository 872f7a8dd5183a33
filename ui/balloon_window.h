// A small pale-yellow popup with cut corners that shows one notification text just above the notification
// area, for shells without balloon tips (Windows 95, 98, Me). The main dialog creates one there, hidden,
// with Create(); its notification routine hands every text to ShowBalloon(text, seconds) while the window
// exists; an empty text hides it. The window hides itself after the given seconds or when clicked. The
// main dialog destroys it at shutdown (Destroy() or the destructor). One per process; dialog thread only.
// Its font and margins follow the DPI of its screen; under high contrast it paints in the tooltip colours.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "handles.h"
#include "window_attach.h"

namespace vd {

// The window region's outline (25 points, the last equal to the first) for a window of w x h.
std::vector<POINT> BalloonOutline(int w, int h);
// The painted outline inside the client rectangle: the same shape, one pixel further in on the right and
// bottom sides.
std::vector<POINT> BalloonPaintedOutline(const RECT& client);
// The text face for the system's default language: the Simplified Chinese system font there, else Tahoma.
const wchar_t* BalloonFaceName(LANGID systemDefaultLanguage);

class BalloonWindow : public AttachedWindow {
 public:
  static constexpr wchar_t kClassName[] = L"BALLOONF603F33B-2935-431f-A732-3C773895E085";
  static constexpr size_t kMaxText = 255;
  static constexpr COLORREF kBackground = RGB(255, 255, 225);
  // Distance of the window's right and bottom edges from the screen's, at 96 DPI.
  static constexpr int kRightMargin = 70;
  static constexpr int kBottomMargin = 35;

  BalloonWindow() = default;
  ~BalloonWindow() { Destroy(); }
  BalloonWindow(const BalloonWindow&) = delete;
  BalloonWindow& operator=(const BalloonWindow&) = delete;

  // The window, created hidden at (0, 0) with size 5 x 5; null when the class or window cannot be made.
  HWND Create();
  void ShowBalloon(const wchar_t* text, int seconds);
  void Destroy();

  HWND Window() const { return hwnd_; }
  const std::wstring& Text() const { return text_; }
  int RemainingSeconds() const { return remaining_; }
  HFONT NormalFont() const { return normalFont_.get(); }
  HFONT BoldFont() const { return boldFont_.get(); }

 private:
  friend struct ::vd::WindowAttach;
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  void OnCreate();
  void OnDestroy();
  void OnPaint();
  void OnTimer();
  void OnDpiChanged(int dpi);
  void CreateFonts(int dpi);
  SIZE MeasureText() const;

  std::wstring text_;
  int remaining_ = 0;
  int dpi_ = 96;  // the font's and the margins'
  UniqueBrush background_;
  UniquePen frame_;
  UniqueFont normalFont_;
  UniqueFont boldFont_;
};

}  // namespace vd
