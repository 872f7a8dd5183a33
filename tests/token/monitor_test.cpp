// The monitor thread: token events become TokenEventMessage posts to a window, once each.
#include <gtest/gtest.h>

#include <vector>

#include "token_manager.h"
#include "token_test_util.h"

namespace {

using tokentest::Tokenctl;

struct Posted {
  WPARAM wParam;
  LPARAM lParam;
};

// A hidden window standing in for the main dialog: collects what the monitor posts.
class EventWindow {
 public:
  EventWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &EventWindow::Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TokenMonitorTestWindow";
    ::RegisterClassW(&wc);
    hwnd_ = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                              wc.hInstance, nullptr);
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~EventWindow() { ::DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }

  // Pumps messages until `count` events arrived or `ms` passed.
  const std::vector<Posted>& PumpUntil(size_t count, DWORD ms) {
    DWORD start = ::GetTickCount();
    while (events_.size() < count && ::GetTickCount() - start < ms) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    }
    return events_;
  }

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == vd::kTokenEventMessage) {
      reinterpret_cast<EventWindow*>(::GetWindowLongPtrW(h, GWLP_USERDATA))->events_.push_back({w, l});
      return 0;
    }
    return ::DefWindowProcW(h, m, w, l);
  }
  HWND hwnd_ = nullptr;
  std::vector<Posted> events_;
};

class Monitor : public tokentest::TokenStoreTest {};

TEST_F(Monitor, EachEventIsPostedOnceEvenAfterASecondStart) {
  EventWindow window;
  ASSERT_NE(window.hwnd(), nullptr);
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  ASSERT_EQ(manager.StartMonitor(window.hwnd(), vd::kTokenEventMessage), CKR_OK);
  EXPECT_TRUE(manager.IsMonitorRunning());
  ASSERT_EQ(manager.StartMonitor(window.hwnd(), vd::kTokenEventMessage), CKR_OK);

  Tokenctl(L"insert 3");
  Tokenctl(L"event 3 259 2");
  Tokenctl(L"remove 3");
  auto events = window.PumpUntil(3, 10000);
  window.PumpUntil(4, 700);  // anything posted twice would show up now
  ASSERT_EQ(events.size(), 3u);
  struct Row {
    WPARAM wParam;
    LPARAM lParam;
  } want[] = {{(3u << 16) | 1, 0}, {(3u << 16) | 259, 2}, {(3u << 16) | 2, 0}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(events[i].wParam, want[i].wParam) << i;
    EXPECT_EQ(events[i].lParam, want[i].lParam) << i;
  }
  // Only the window gets told; the list changes when the dialog calls back.
  EXPECT_FALSE(manager.HasAnyToken());
}

TEST_F(Monitor, FinalizeEndsTheMonitor) {
  EventWindow window;
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  ASSERT_EQ(manager.StartMonitor(window.hwnd(), vd::kTokenEventMessage), CKR_OK);
  ASSERT_TRUE(manager.IsMonitorRunning());
  DWORD start = ::GetTickCount();
  EXPECT_EQ(manager.Unload(), CKR_OK);
  EXPECT_LT(::GetTickCount() - start, 5000u);
  EXPECT_FALSE(manager.IsMonitorRunning());

  // Bound again, the monitor can start anew and still delivers.
  ASSERT_EQ(manager.Load(), CKR_OK);
  ASSERT_EQ(manager.StartMonitor(window.hwnd(), vd::kTokenEventMessage), CKR_OK);
  Tokenctl(L"insert 5");
  auto events = window.PumpUntil(1, 10000);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].wParam, static_cast<WPARAM>((5u << 16) | 1));
}

// An event entry that keeps failing is said once, then the slots are polled: a token still arrives and goes.
TEST_F(Monitor, EventWaitThatKeepsFailingFallsBackToPollingTheSlots) {
  EventWindow window;
  vd::TokenManager manager;
  ASSERT_EQ(manager.Load(), CKR_OK);
  Tokenctl(L"fail E_WaitForEvent CKR_FUNCTION_NOT_SUPPORTED");
  ASSERT_EQ(manager.StartMonitor(window.hwnd(), vd::kTokenEventMessage), CKR_OK);
  auto events = window.PumpUntil(1, 5000);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(vd::TokenEventCodeOf(events[0].wParam), vd::kMonitorPollingCode);
  EXPECT_EQ(events[0].lParam, static_cast<LPARAM>(CKR_FUNCTION_NOT_SUPPORTED));
  Tokenctl(L"insert 2");
  events = window.PumpUntil(2, 5000);
  Tokenctl(L"remove 2");
  events = window.PumpUntil(3, 5000);
  window.PumpUntil(4, 1500);  // said once, posted once
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[1].wParam, vd::TokenEventWParam(2, TOKEN_EVT_INSERTED));
  EXPECT_EQ(events[2].wParam, vd::TokenEventWParam(2, TOKEN_EVT_REMOVED));
  EXPECT_EQ(manager.Unload(), CKR_OK);
  EXPECT_FALSE(manager.IsMonitorRunning());
}

}  // namespace
