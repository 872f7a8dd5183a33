#include "testsupport.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace vdtest {

std::wstring BinDir() {
  wchar_t buf[MAX_PATH * 2];
  DWORD n = ::GetModuleFileNameW(nullptr, buf, static_cast<DWORD>(std::size(buf)));
  std::wstring p(buf, n);
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

std::wstring TestCert(const wchar_t* name) { return BinDir() + L"testcerts\\" + name; }

std::vector<uint8_t> ReadFileBytes(const std::wstring& path) {
  std::vector<uint8_t> data;
  HANDLE f = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return data;
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(f, &size) && size.QuadPart > 0 && size.QuadPart < (64LL << 20)) {
    data.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!::ReadFile(f, data.data(), static_cast<DWORD>(data.size()), &got, nullptr)) got = 0;
    data.resize(got);
  }
  ::CloseHandle(f);
  return data;
}

bool WriteFileBytes(const std::wstring& path, const void* data, size_t size) {
  HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  BOOL ok = ::WriteFile(f, data, static_cast<DWORD>(size), &put, nullptr);
  ::CloseHandle(f);
  return ok && put == size;
}

namespace {

void Drain(HANDLE pipe, std::string* into) {
  char buf[4096];
  DWORD got = 0;
  while (::ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0) into->append(buf, got);
}

}  // namespace

static ProcessResult RunProcessOnce(const std::wstring& commandLine, DWORD timeoutMs) {
  ProcessResult r;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  if (!::CreatePipe(&outRead, &outWrite, &sa, 0)) return r;
  if (!::CreatePipe(&errRead, &errWrite, &sa, 0)) {
    ::CloseHandle(outRead);
    ::CloseHandle(outWrite);
    return r;
  }
  ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = outWrite;
  si.hStdError = errWrite;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = commandLine;
  // Under a loaded Wine a process start can fail once for no reason of the child's; try again before
  // reporting the start as failed.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0) ::Sleep(200);
    started = ::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &si, &pi);
    r.startError = started ? 0 : ::GetLastError();
  }
  ::CloseHandle(outWrite);
  ::CloseHandle(errWrite);
  if (!started) {
    ::CloseHandle(outRead);
    ::CloseHandle(errRead);
    return r;
  }
  std::thread outThread(Drain, outRead, &r.out);
  std::thread errThread(Drain, errRead, &r.err);
  if (::WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    ::TerminateProcess(pi.hProcess, 0xFFFFFFFF);
    ::WaitForSingleObject(pi.hProcess, 5000);
  }
  outThread.join();
  errThread.join();
  DWORD code = 0xFFFFFFFF;
  ::GetExitCodeProcess(pi.hProcess, &code);
  r.exitCode = code;
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(outRead);
  ::CloseHandle(errRead);
  return r;
}

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs) {
  // A heavily loaded Wine now and then fails a new process while its DLLs initialise, before the program's
  // own code ran (STATUS_DLL_INIT_FAILED): nothing happened, so the run is repeated.
  constexpr DWORD kDllInitFailed = 0xC0000142;
  ProcessResult r;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0) ::Sleep(500);
    r = RunProcessOnce(commandLine, timeoutMs);
    if (r.exitCode != kDllInitFailed || !r.out.empty()) break;
  }
  return r;
}

ProcessResult RunTool(const wchar_t* exe, const std::wstring& args, DWORD timeoutMs) {
  return RunProcess(L"\"" + BinDir() + exe + L"\" " + args, timeoutMs);
}

std::wstring StaticTexts(HWND window) {
  std::wstring all;
  ::EnumChildWindows(
      window,
      [](HWND child, LPARAM param) -> BOOL {
        wchar_t cls[32] = {}, text[512] = {};
        ::GetClassNameW(child, cls, 32);
        if (_wcsicmp(cls, L"Static") == 0 && ::GetWindowTextW(child, text, 512) > 0 && text[0] != 0xFFFF) {
          *reinterpret_cast<std::wstring*>(param) += text;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&all));
  return all;
}

bool RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW fd;
  HANDLE h = ::FindFirstFileW((path + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = path + L"\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(child);
      else
        ::DeleteFileW(child.c_str());
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
  }
  return ::RemoveDirectoryW(path.c_str()) || ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

TempDir::TempDir(const wchar_t* prefix) {
  static std::atomic<unsigned> counter{0};
  wchar_t tmp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, tmp);
  for (;;) {
    path_ = std::wstring(tmp) + prefix + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(::GetTickCount()) + L"-" + std::to_wstring(counter++);
    if (::CreateDirectoryW(path_.c_str(), nullptr)) break;
  }
}

TempDir::~TempDir() { RemoveTree(path_); }

ScopedSimTokenDir::ScopedSimTokenDir() : dir_(L"simtoken") {
  wchar_t buf[1024];
  DWORD n = ::GetEnvironmentVariableW(L"SIMTOKEN_DIR", buf, 1024);
  hadPrevious_ = n > 0 && n < 1024;
  if (hadPrevious_) previous_.assign(buf, n);
  ::SetEnvironmentVariableW(L"SIMTOKEN_DIR", dir_.path().c_str());
}

ScopedSimTokenDir::~ScopedSimTokenDir() {
  ::SetEnvironmentVariableW(L"SIMTOKEN_DIR", hadPrevious_ ? previous_.c_str() : nullptr);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (done()) return true;
    const DWORD waited = ::GetTickCount() - start;
    if (waited >= timeoutMs) return done();
    // Wakes at the next message, so that what the test waits for is seen as soon as it is dispatched.
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(10, timeoutMs - waited), QS_ALLINPUT);
  }
}

void Pump(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

::testing::AssertionResult TokenctlSucceeds(const std::wstring& args) {
  const ProcessResult r = RunTool(L"tokenctl.exe", args);
  if (r.exitCode == 0) return ::testing::AssertionSuccess() << r.out;
  return ::testing::AssertionFailure() << "tokenctl " << std::string(args.begin(), args.end()) << ": exit "
                                       << r.exitCode << ", " << r.err << r.out;
}

std::string Tokenctl(const std::wstring& args) {
  const ProcessResult r = RunTool(L"tokenctl.exe", args);
  EXPECT_EQ(r.exitCode, 0u) << "tokenctl " << std::string(args.begin(), args.end()) << ": " << r.err << r.out
                           << (r.startError ? " (could not start: error " + std::to_string(r.startError) + ")" : "");
  return r.out;
}

unsigned long SessionsOf(DWORD processId) {
  const std::string out = Tokenctl(L"sessions");
  const std::string me = std::to_string(processId) + " ";
  for (size_t at = 0; at < out.size();) {
    const size_t end = out.find('\n', at);
    const std::string line = out.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (line.rfind(me, 0) == 0) return std::stoul(line.substr(me.size()));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return 0;
}

}  // namespace vdtest
