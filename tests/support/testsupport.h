// Helpers shared by the test executables: paths of the build, the test certificates, child processes and
// an isolated state folder for the simulated token module.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vdtest {

// Folder of the running executable, with a trailing backslash (build/<preset>/bin/).
std::wstring BinDir();
// A certificate made by the test set-up, e.g. TestCert(L"sign.der").
std::wstring TestCert(const wchar_t* name);
std::vector<uint8_t> ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const void* data, size_t size);

struct ProcessResult {
  DWORD exitCode = 0xFFFFFFFF;  // 0xFFFFFFFF also when it could not start or timed out (then killed)
  std::string out;
  std::string err;
  DWORD startError = 0;  // GetLastError of the last failed start, 0 when it started
};
// Runs a command line, collecting standard output and error; waits at most timeoutMs.
ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs = 60000);
// Runs a tool from BinDir() with the given arguments, e.g. RunTool(L"tokenctl.exe", L"insert 1").
ProcessResult RunTool(const wchar_t* exe, const std::wstring& args, DWORD timeoutMs = 60000);

// A fresh, empty folder under %TEMP%, deleted with everything in it when the object goes.
class TempDir {
 public:
  explicit TempDir(const wchar_t* prefix = L"vdtest");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

// Points SIMTOKEN_DIR of this process (and the children it starts) at a fresh folder, so that a test sees
// only the tokens it made; restores the previous value afterwards.
class ScopedSimTokenDir {
 public:
  ScopedSimTokenDir();
  ~ScopedSimTokenDir();
  ScopedSimTokenDir(const ScopedSimTokenDir&) = delete;
  ScopedSimTokenDir& operator=(const ScopedSimTokenDir&) = delete;
  const std::wstring& path() const { return dir_.path(); }

 private:
  TempDir dir_;
  std::wstring previous_;
  bool hadPrevious_ = false;
};

// The texts of a window's static children, joined: what a message box says (icons are skipped).
std::wstring StaticTexts(HWND window);

// Removes a folder and everything below it; true when it is gone.
bool RemoveTree(const std::wstring& path);

// Dispatches this thread's messages for `ms` milliseconds: what a window's own loop would do meanwhile.
void Pump(DWORD ms);
// Dispatches this thread's messages until `done` holds; false when it still does not after timeoutMs.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);

// tokenctl.exe with the given arguments, in the test's token state folder (SIMTOKEN_DIR). A failing run
// fails the running test, naming the command and what it printed; returns its standard output.
std::string Tokenctl(const std::wstring& args);
// The same as an assertion, for ASSERT_TRUE where a failed change must end the test.
::testing::AssertionResult TokenctlSucceeds(const std::wstring& args);
// Sessions the process holds open in the simulated module, as "tokenctl sessions" reports them.
unsigned long SessionsOf(DWORD processId);

}  // namespace vdtest
