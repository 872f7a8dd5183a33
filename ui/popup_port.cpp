// The notification windows behind PopupPort.
#include "about_dlg.h"
#include "balloon_window.h"
#include "dpi.h"
#include "notifier_settings.h"
#include "popup_port.h"
#include "scaled_art.h"
#include "set_notifier_dlg.h"
#include "taskbar_notifier.h"

namespace vd {

namespace {

constexpr UINT kSkinBitmap = 139;

class TaskbarUsagePopup final : public UsagePopup {
 public:
  explicit TaskbarUsagePopup(std::time_t start) : start_(start) {}
  bool Create(HWND owner) {
    if (!notifier_.Create(owner)) return false;
    notifier_.SetUserValue(static_cast<long>(start_));
    // The skin drawn for the screen's DPI, which the text's point size follows too.
    const int dpi = SystemDpi();
    if (!notifier_.SetSkin(ScaledArtId(kSkinBitmap, dpi), -1, -1, -1)) notifier_.SetSkin(kSkinBitmap, -1, -1, -1);
    notifier_.SetTextFont(L"Arial", 90, 0, 4);
    notifier_.SetTextColor(RGB(0, 0, 0), RGB(0, 0, 0xC8));
    notifier_.SetTextRect({ScaleForDpi(10, dpi), ScaleForDpi(5, dpi), notifier_.SkinWidth() - ScaleForDpi(10, dpi),
                           notifier_.SkinHeight() - ScaleForDpi(25, dpi)});
    return true;
  }
  std::time_t StartTime() const override { return start_; }
  void ShowReminder(const std::wstring& text) override { notifier_.Show(text, 500, 3000, 500, 1); }

 private:
  std::time_t start_;
  CTaskbarNotifier notifier_;
};

class BalloonWindowSink final : public BalloonSink {
 public:
  bool Create() { return window_.Create() != nullptr; }
  void ShowBalloon(const std::wstring& text, int seconds) override { window_.ShowBalloon(text.c_str(), seconds); }

 private:
  BalloonWindow window_;
};

class DefaultPopupPort final : public PopupPort {
 public:
  std::unique_ptr<UsagePopup> CreateUsagePopup(HWND owner, std::time_t start) override {
    auto popup = std::make_unique<TaskbarUsagePopup>(start);
    // A popup that cannot be made still marks the token as seen; it just never shows.
    popup->Create(owner);
    return popup;
  }
  std::unique_ptr<BalloonSink> CreateBalloon(HWND) override {
    auto sink = std::make_unique<BalloonWindowSink>();
    if (!sink->Create()) return nullptr;
    return sink;
  }
  void ShowAbout(HWND owner) override { RunAboutDlg(owner); }
  bool RunSetNotifier(HWND owner, bool* enabled, unsigned* minutes) override {
    SetNotifierResult r = RunSetNotifierDlg(owner);
    *enabled = r.enabledAtOk;
    *minutes = r.minutes;
    return r.ok;
  }
};

}  // namespace

std::unique_ptr<PopupPort> MakeDefaultPopupPort() { return std::make_unique<DefaultPopupPort>(); }

}  // namespace vd
