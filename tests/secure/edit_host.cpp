#include "edit_host.h"

#include <atomic>
#include <thread>

namespace sectest {
namespace {

constexpr wchar_t kClass[] = L"SecureEditTestHost";

}  // namespace

LRESULT CALLBACK EditHost::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
  }
  auto* self = reinterpret_cast<EditHost*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self && msg == WM_COMMAND && HIWORD(wp) == vd::CSecEdit::kContentChanged) ++self->notifications_;
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

EditHost::EditHost(int limit, bool visibleSecond) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = kClass;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  ::RegisterClassW(&wc);
  window_ = ::CreateWindowExW(0, kClass, L"Secure edit test", WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 100, 100, 320,
                              140, nullptr, nullptr, wc.hInstance, this);
  const DWORD style = WS_CHILD | WS_BORDER | ES_PASSWORD | ES_AUTOHSCROLL | WS_TABSTOP;
  first_ = ::CreateWindowExW(0, L"EDIT", L"", style | WS_VISIBLE, 10, 10, 200, 22, window_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId)), wc.hInstance, nullptr);
  second_ = ::CreateWindowExW(0, L"EDIT", L"", style | (visibleSecond ? WS_VISIBLE : 0), 10, 50, 200, 22, window_,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSecondId)), wc.hInstance, nullptr);
  for (HWND e : {first_, second_}) ::SendMessageW(e, EM_LIMITTEXT, static_cast<WPARAM>(limit), 0);
  firstSecure_ = std::make_unique<vd::CSecEdit>();
  secondSecure_ = std::make_unique<vd::CSecEdit>();
  firstSecure_->Attach(first_);
  secondSecure_->Attach(second_);
  ::UpdateWindow(window_);
}

EditHost::~EditHost() {
  // Fixed order: the window (and the edits' subclasses) go while the objects still exist.
  if (window_) ::DestroyWindow(window_);
  firstSecure_.reset();
  secondSecure_.reset();
  Pump(20);
}

bool EditHost::Focus(int which) {
  ::SetForegroundWindow(window_);
  ::SetActiveWindow(window_);
  ::SetFocus(edit(which));
  Pump(30);
  return ::GetFocus() == edit(which);
}

std::wstring EditHost::Content(int which) {
  std::wstring out;
  secure(which).ReadContent(out);
  return out;
}

std::wstring EditHost::ShownText(int which) const {
  wchar_t buf[512] = {};
  ::GetWindowTextW(edit(which), buf, 512);
  return buf;
}

void WhilePumping(const std::function<void()>& work, DWORD timeoutMs) {
  std::atomic<bool> finished{false};
  std::thread helper([&] {
    work();
    finished = true;
  });
  PumpUntil([&] { return finished.load(); }, timeoutMs);
  helper.join();
  Pump(50);  // what the work caused is dispatched before anyone looks
}

}  // namespace sectest
