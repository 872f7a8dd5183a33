// lumora_host.exe as a browser runs it: a child process whose standard input and output are pipes.
#pragma once

#include <windows.h>

#include <string>
#include <mutex>
#include <thread>

#include "handles.h"

namespace hosttest {

class HostProcess {
 public:
  // Starts BinDir()\lumora_host.exe with `args`; the child inherits this process's environment.
  explicit HostProcess(const std::wstring& args = L"chrome-extension://test/");
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool started() const { return static_cast<bool>(process_); }
  // False when the child no longer reads.
  bool Write(const std::string& bytes);
  void CloseInput();
  // Waits for the exit; the exit code, or 0xFFFFFFFF (the child then killed) after `timeoutMs`.
  DWORD WaitExit(DWORD timeoutMs);
  // Everything the child wrote, once it has exited.
  const std::string& output() const { return output_; }
  // What the child has written so far, while it runs.
  std::string OutputSoFar();

 private:
  vd::UniqueKernelHandle process_;
  vd::UniqueFile input_;   // our end of the child's standard input
  vd::UniqueFile output_pipe_;
  std::thread reader_;
  std::mutex outputLock_;
  std::string output_;
};

}  // namespace hosttest
