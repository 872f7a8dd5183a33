// The View Cert command: the system's viewer over a test certificate, titled as the program's own window,
// the "Parameter Error!" box without a remembered certificate, and silence for values that do not decode.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "certificate_viewer.h"
#include "commands_driver.h"
#include "screenshot.h"
#include "testsupport.h"

namespace {

using cmdtest::DialogDriver;

// A plain visible top-level window to own what the command shows.
class OwnerWindow {
 public:
  OwnerWindow() {
    hwnd_ = ::CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 300, 200, nullptr,
                              nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetForegroundWindow(hwnd_);
    ::SetActiveWindow(hwnd_);
  }
  ~OwnerWindow() { ::DestroyWindow(hwnd_); }
  OwnerWindow(const OwnerWindow&) = delete;
  OwnerWindow& operator=(const OwnerWindow&) = delete;
  HWND get() const { return hwnd_; }

 private:
  HWND hwnd_ = nullptr;
};

// A visible top-level window of this process with exactly this title, or null.
HWND FindOwnWindow(const wchar_t* title) {
  struct Query {
    const wchar_t* title;
    HWND found;
  } q{title, nullptr};
  ::EnumWindows(
      [](HWND h, LPARAM lp) -> BOOL {
        auto* q = reinterpret_cast<Query*>(lp);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(h, &pid);
        wchar_t text[128] = {};
        ::GetWindowTextW(h, text, 128);
        if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(h) && lstrcmpW(text, q->title) == 0) {
          q->found = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&q));
  return q.found;
}

TEST(ViewCertificate, ViewerOpensTitledCertificatesDaemonAndClosesWithEscape) {
  OwnerWindow owner;
  const std::vector<uint8_t> der = vdtest::ReadFileBytes(vdtest::TestCert(L"enc.der"));
  ASSERT_FALSE(der.empty());
  const DWORD uiThread = ::GetCurrentThreadId();
  std::atomic<HWND> viewer{nullptr};
  std::atomic<bool> forced{false};
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    for (int i = 0; i < 200 && !viewer; ++i) {
      viewer = FindOwnWindow(L"Certificates Daemon");
      ::Sleep(50);
    }
    if (!viewer) return;
    ::Sleep(500);  // let it paint
    vdtest::SaveWindowPng(viewer, L"commands_viewer.png");
    // Escape as the keyboard gives it: to the control that has the focus in the viewer's modal loop.
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    HWND target = ::GetGUIThreadInfo(uiThread, &gui) && gui.hwndFocus ? gui.hwndFocus : viewer.load();
    ::PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ::PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    for (int i = 0; i < 100 && !done; ++i) ::Sleep(50);
    if (!done) {
      forced = true;
      ::PostMessageW(viewer, WM_CLOSE, 0, 0);
    }
  });
  // Wine's viewer takes no owner from its parent, so only the title and the closing are checked.
  vd::ViewCertificate(owner.get(), &der);
  done = true;
  watcher.join();
  ASSERT_NE(viewer.load(), nullptr) << "no window titled Certificates Daemon";
  EXPECT_FALSE(forced) << "Escape did not close the viewer";
  EXPECT_FALSE(::IsWindow(viewer));
}

TEST(ViewCertificate, WithoutACertificateTheActiveWindowGetsParameterError) {
  OwnerWindow active;
  ASSERT_EQ(::GetActiveWindow(), active.get());
  std::wstring caption, text;
  HWND boxOwner = nullptr;
  DialogDriver driver([&](HWND box) {
    caption = cmdtest::WindowText(box);
    text = vdtest::StaticTexts(box);
    boxOwner = ::GetWindow(box, GW_OWNER);
    vdtest::SaveWindowPng(box, L"commands_parameter_error.png");
    ::SendMessageW(box, WM_COMMAND, IDOK, 0);
  });
  vd::ViewCertificate(nullptr, nullptr);  // the window passed is not the owner: the active one is
  EXPECT_EQ(caption, L"Certificates Daemon");
  EXPECT_EQ(text, L"Parameter Error!");
  EXPECT_EQ(boxOwner, active.get());
  EXPECT_FALSE(DialogDriver::WatchdogFired());
}

TEST(ViewCertificate, ValuesThatDoNotDecodeShowNothing) {
  std::vector<uint8_t> truncated = vdtest::ReadFileBytes(vdtest::TestCert(L"enc.der"));
  ASSERT_GT(truncated.size(), 40u);
  truncated.resize(truncated.size() / 2);
  const std::vector<std::vector<uint8_t>> values = {
      {}, {0x30}, {0x30, 0x82, 0xFF, 0xFF, 0x01}, vdtest::ReadFileBytes(vdtest::TestCert(L"garbage.der")), truncated};
  for (const auto& v : values) {
    DialogDriver driver([](HWND dlg) { ::PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0); });
    vd::ViewCertificate(nullptr, &v);
    // A window shown would have run a modal loop, and the driver would have met it there.
    EXPECT_TRUE(DialogDriver::Seen().empty()) << v.size();
    EXPECT_EQ(FindOwnWindow(L"Certificates Daemon"), nullptr);
  }
}

}  // namespace
