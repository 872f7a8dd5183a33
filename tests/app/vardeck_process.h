// vardeck.exe as a child process: start it, find its window, end it (always), and look at the user's
// certificate stores from outside it.
#pragma once

#include <windows.h>

#include <string>

#include "handles.h"

namespace vdtest {

class VardeckProcess {
 public:
  // Starts exe (vardeck.exe of the build when empty) with the arguments, on the named desktop of this
  // window station when one is given.
  explicit VardeckProcess(const std::wstring& args, const std::wstring& exe = L"", const wchar_t* desktop = nullptr);
  // Ends the program if it still runs: "-t" first, then TerminateProcess.
  ~VardeckProcess();
  VardeckProcess(const VardeckProcess&) = delete;
  VardeckProcess& operator=(const VardeckProcess&) = delete;

  bool Started() const { return static_cast<bool>(process_); }
  DWORD Pid() const { return pid_; }
  HANDLE Handle() const { return process_.get(); }
  // True when the process ended within the time; its exit code goes to *code.
  bool WaitExit(DWORD ms, DWORD* code = nullptr);
  bool Running() { return !WaitExit(0); }
  // The main dialog once it exists (visible or not), null after the time.
  HWND WaitMainWindow(DWORD ms);
  void Kill();

 private:
  vd::UniqueKernelHandle process_;
  DWORD pid_ = 0;
};

// Runs "vardeck.exe -t" and waits for it.
void RequestTermination();

// Top-level windows of a process with the given class ("#32770" for dialogs).
HWND FindProcessWindow(DWORD pid, const wchar_t* className, const wchar_t* title = nullptr);

// Whether the user's store holds a certificate with this SHA-1 (upper-case hex), read afresh.
bool StoreHas(const wchar_t* store, const std::wstring& sha1);
// Polls until StoreHas(store, sha1) == present; false after the time.
bool WaitStore(const wchar_t* store, const std::wstring& sha1, bool present, DWORD ms);
std::wstring Sha1OfFile(const std::wstring& derPath);

}  // namespace vdtest
