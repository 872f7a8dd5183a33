// Another program's low-level keyboard hook, as a key logger would install it: on a thread of its own,
// installed before the secure edit's. It records every key-down it is shown.
#pragma once

#include <windows.h>

#include <mutex>
#include <thread>
#include <vector>

namespace sectest {

class KeySpy {
 public:
  KeySpy();
  ~KeySpy();
  KeySpy(const KeySpy&) = delete;
  KeySpy& operator=(const KeySpy&) = delete;

  bool Installed() const { return installed_; }
  std::vector<DWORD> KeysDown();
  bool Saw(DWORD vk);
  void Forget();

 private:
  static LRESULT CALLBACK Proc(int code, WPARAM wp, LPARAM lp);
  void Run();

  std::thread thread_;
  DWORD threadId_ = 0;
  HANDLE ready_;
  bool installed_ = false;
  std::mutex mutex_;
  std::vector<DWORD> down_;
  static KeySpy* active_;
};

}  // namespace sectest
