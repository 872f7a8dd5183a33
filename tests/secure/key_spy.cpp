#include "key_spy.h"

#include <algorithm>

namespace sectest {

KeySpy* KeySpy::active_ = nullptr;

KeySpy::KeySpy() : ready_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  active_ = this;
  thread_ = std::thread([this] { Run(); });
  ::WaitForSingleObject(ready_, 5000);
}

KeySpy::~KeySpy() {
  if (threadId_) ::PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
  if (thread_.joinable()) thread_.join();
  active_ = nullptr;
  ::CloseHandle(ready_);
}

void KeySpy::Run() {
  threadId_ = ::GetCurrentThreadId();
  HHOOK hook = ::SetWindowsHookExW(WH_KEYBOARD_LL, Proc, ::GetModuleHandleW(nullptr), 0);
  installed_ = hook != nullptr;
  MSG msg;
  ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before anyone posts WM_QUIT
  ::SetEvent(ready_);
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  if (hook) ::UnhookWindowsHookEx(hook);
}

LRESULT CALLBACK KeySpy::Proc(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && wp == WM_KEYDOWN && active_) {
    std::lock_guard<std::mutex> lock(active_->mutex_);
    active_->down_.push_back(reinterpret_cast<KBDLLHOOKSTRUCT*>(lp)->vkCode);
  }
  return ::CallNextHookEx(nullptr, code, wp, lp);
}

std::vector<DWORD> KeySpy::KeysDown() {
  std::lock_guard<std::mutex> lock(mutex_);
  return down_;
}

bool KeySpy::Saw(DWORD vk) {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::find(down_.begin(), down_.end(), vk) != down_.end();
}

void KeySpy::Forget() {
  std::lock_guard<std::mutex> lock(mutex_);
  down_.clear();
}

}  // namespace sectest
