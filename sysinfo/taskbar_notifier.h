// Skinned popup that slides out of the taskbar edge, shows a short text for a while and slides back.
// The main dialog keeps one per plugged-in token (in its usage-notifier map): at insertion it calls
// Create(dialog), SetUserValue(time(nullptr)), SetSkin(139, -1, -1, -1), SetTextFont(L"Arial", 90, 0, 4),
// SetTextColor(0x000000, 0xC80000) and SetTextRect({10, 5, SkinWidth() - 10, SkinHeight() - 25}); at each
// reminder tick it calls Show(text, 500, 3000, 500, 1). Destroying the object destroys the window.
// A left click on the popup posts kClickMessage (both parameters 0) to the owner.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "handles.h"
#include "window_attach.h"

namespace vd {

// The taskbar edge the popup slides out of; the values are the popup's placement codes.
enum class TaskbarEdge : int { None = 0, Top = 1, Left = 2, Right = 3, Bottom = 4 };

struct ScreenGeometry {
  RECT workArea{};
  SIZE screen{};
};

// Which edge the taskbar takes, judged from how the work area falls short of the screen.
TaskbarEdge DetectTaskbarEdge(const RECT& workArea, SIZE screen);

// The animation of one showing: where the popup waits hidden (just outside the work area), where it rests
// fully shown, how many steps the slide takes and how long each step lasts.
struct SlidePlan {
  POINT start{};
  POINT shown{};
  int steps = 0;
  UINT showDelay = 0;
  UINT hideDelay = 0;
};
SlidePlan PlanSlide(TaskbarEdge edge, const RECT& workArea, SIZE skin, int step, UINT timeToShow,
                    UINT timeToHide);
// The fully shown position for an edge and a work area.
POINT ShownPosition(TaskbarEdge edge, const RECT& workArea, SIZE skin);

// One step of the slide; `current` moves at most `step` pixels and never past the end position. Returns
// false, leaving `current` unchanged, when the end had already been reached.
bool AppearStep(TaskbarEdge edge, POINT start, SIZE skin, int step, POINT& current);
bool DisappearStep(TaskbarEdge edge, POINT start, int step, POINT& current);

// The skin minus every pixel of exactly `transparent`, or null when the pixels cannot be read. Only the
// first (width rounded down to a multiple of 4) columns are examined.
HRGN RegionFromSkin(HBITMAP skin, COLORREF transparent);

class CTaskbarNotifier : public AttachedWindow {
 public:
  enum State : int { kHidden = 0, kAppearing = 1, kWaiting = 2, kDisappearing = 3 };
  static constexpr UINT kClickMessage = WM_USER + 123;
  static constexpr COLORREF kDefaultNormalColor = RGB(133, 146, 181);
  static constexpr COLORREF kDefaultSelectedColor = RGB(10, 36, 106);

  CTaskbarNotifier() = default;
  ~CTaskbarNotifier();
  CTaskbarNotifier(const CTaskbarNotifier&) = delete;
  CTaskbarNotifier& operator=(const CTaskbarNotifier&) = delete;

  bool Create(HWND owner);
  // size in tenths of a point; style bits 1 bold, 2 italic, 4 underline.
  void SetTextFont(const wchar_t* face, int size, int normalStyle, int selectedStyle);
  void SetTextColor(COLORREF normal, COLORREF selected);
  void SetTextRect(const RECT& rect) { textRect_ = rect; }
  // Loads the bitmap resource `bitmapId` of `module` (the program when null). Any colour argument -1 keeps
  // the window rectangular; otherwise pixels of exactly that colour are cut out of the window.
  bool SetSkin(UINT bitmapId, int red, int green, int blue, HINSTANCE module = nullptr);
  // Same with a bitmap the caller hands over (the object owns it afterwards).
  bool SetSkin(HBITMAP bitmap, int red, int green, int blue);
  // stepHint is accepted for callers that pass one; the slide always moves Step() pixels per tick.
  void Show(const std::wstring& text, UINT timeToShow, UINT timeToStay, UINT timeToHide, int stepHint = 1);
  void Hide();

  void SetUserValue(long v) { userValue_ = v; }
  long GetUserValue() const { return userValue_; }

  // Where the work area and screen size come from; the system's by default. Tests put the taskbar on
  // each edge through it.
  void SetGeometrySource(std::function<ScreenGeometry()> source) { geometry_ = std::move(source); }
  static ScreenGeometry SystemGeometry();

  HWND Window() const { return hwnd_; }
  State CurrentState() const { return state_; }
  TaskbarEdge Placement() const { return placement_; }
  POINT Position() const { return current_; }
  POINT StartPosition() const { return start_; }
  int SkinWidth() const { return skinWidth_; }
  int SkinHeight() const { return skinHeight_; }
  int Step() const { return step_; }
  UINT ShowDelay() const { return showDelay_; }
  UINT HideDelay() const { return hideDelay_; }
  const RECT& TextRect() const { return textRect_; }
  const std::wstring& Text() const { return text_; }
  bool MouseOver() const { return mouseOver_; }
  COLORREF NormalColor() const { return normalColor_; }
  COLORREF SelectedColor() const { return selectedColor_; }
  HFONT NormalFont() const { return normalFont_.get(); }
  HFONT SelectedFont() const { return selectedFont_.get(); }
  HRGN Shape() const { return shape_.get(); }

 private:
  enum TimerId : UINT_PTR { kAppearTimer = 1, kStayTimer = 2, kHideTimer = 3 };

  friend struct ::vd::WindowAttach;
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  void OnTimer(UINT_PTR id);
  void OnAppearStep();
  void OnStayOver();
  void OnDisappearStep();
  void OnPaint();
  void OnMouseMove();
  void OnMouseHover();
  void OnMouseLeave();
  void PlaceBehindTaskbar(UINT extraFlags);
  void Redraw();

  HWND owner_ = nullptr;
  UniqueFont normalFont_;
  UniqueFont selectedFont_;
  UniqueBitmap skin_;
  int skinWidth_ = 0;
  int skinHeight_ = 0;
  RECT textRect_{};
  UniqueRegion shape_;
  COLORREF normalColor_ = kDefaultNormalColor;
  COLORREF selectedColor_ = kDefaultSelectedColor;
  bool mouseOver_ = false;
  bool tracking_ = false;
  std::wstring text_;
  State state_ = kHidden;
  UINT timeToShow_ = 0;
  UINT timeToStay_ = 0;
  UINT timeToHide_ = 0;
  UINT showDelay_ = 0;
  UINT hideDelay_ = 0;
  TaskbarEdge placement_ = TaskbarEdge::None;
  int step_ = 2;
  POINT start_{};
  POINT current_{};
  long userValue_ = 0;
  std::function<ScreenGeometry()> geometry_;
};

}  // namespace vd
