// nphost.exe: loads a plug-in library as a browser would and calls one method of its scriptable object.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "host.h"

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv) return 2;
  std::string out, err;
  int code = nphost::RunCommandLine(argc, argv, &out, &err);
  ::LocalFree(argv);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  std::fflush(stdout);
  std::fflush(stderr);
  return code;
}
