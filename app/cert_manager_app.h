// The application object of vardeck: language set-up, command line, single instance, and the message loop
// of the main dialog.
#pragma once

#include <windows.h>

#include <string>

#include "command_line.h"
#include "handles.h"
#include "instance_end.h"

namespace vd {

// Names shared with other instances of the program in the same session.
std::wstring InstanceMessageName();
std::wstring InstanceMutexName();

class CertManagerApp {
 public:
  CertManagerApp() = default;
  ~CertManagerApp();  // the exit handler: gives up the instance mutex
  CertManagerApp(const CertManagerApp&) = delete;
  CertManagerApp& operator=(const CertManagerApp&) = delete;

  // Runs start-up and, in the first instance, the dialog until it is destroyed. Returns the process's
  // exit code.
  int Run(HINSTANCE instance, const wchar_t* commandLine);

 private:
  UINT instanceMessage_ = 0;
  StartSwitches switches_;
  UniqueKernelHandle instanceMutex_;
  // Declared after the mutex, so released before it: "-t" sees the event gone before the mutex.
  TerminateEvent terminateEvent_;
};

}  // namespace vd
