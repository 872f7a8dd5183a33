#include "host_process.h"

#include "testsupport.h"

namespace hosttest {

HostProcess::HostProcess(const std::wstring& args) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
  if (!::CreatePipe(&inRead, &inWrite, &sa, 0)) return;
  if (!::CreatePipe(&outRead, &outWrite, &sa, 0)) {
    ::CloseHandle(inRead);
    ::CloseHandle(inWrite);
    return;
  }
  ::SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  input_.reset(inWrite);
  output_pipe_.reset(outRead);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = inRead;
  si.hStdOutput = outWrite;
  si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  std::wstring cmd = L"\"" + vdtest::BinDir() + L"lumora_host.exe\" " + args;
  if (::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
    process_.reset(pi.hProcess);
    ::CloseHandle(pi.hThread);
  }
  // Only the child holds these ends now, so its exit ends our reads and our writes fail once it is gone.
  ::CloseHandle(inRead);
  ::CloseHandle(outWrite);
  if (!process_) return;
  reader_ = std::thread([this] {
    char buf[65536];
    DWORD got = 0;
    while (::ReadFile(output_pipe_.get(), buf, sizeof buf, &got, nullptr) && got > 0) {
      std::lock_guard<std::mutex> hold(outputLock_);
      output_.append(buf, got);
    }
  });
}

HostProcess::~HostProcess() {
  if (process_) WaitExit(10000);
}

std::string HostProcess::OutputSoFar() {
  std::lock_guard<std::mutex> hold(outputLock_);
  return output_;
}

bool HostProcess::Write(const std::string& bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    DWORD put = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 1 << 16));
    if (!input_ || !::WriteFile(input_.get(), bytes.data() + at, chunk, &put, nullptr) || put == 0) return false;
    at += put;
  }
  return true;
}

void HostProcess::CloseInput() { input_.reset(); }

DWORD HostProcess::WaitExit(DWORD timeoutMs) {
  DWORD code = 0xFFFFFFFF;
  if (!process_) return code;
  if (::WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) {
    ::TerminateProcess(process_.get(), 0xFFFFFFFF);
    ::WaitForSingleObject(process_.get(), 5000);
  } else {
    ::GetExitCodeProcess(process_.get(), &code);
  }
  input_.reset();
  if (reader_.joinable()) reader_.join();
  return code;
}

}  // namespace hosttest
