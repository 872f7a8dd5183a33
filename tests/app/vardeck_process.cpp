#include "vardeck_process.h"

#include <wincrypt.h>

#include <cwchar>
#include <vector>

#include "testsupport.h"

namespace vdtest {

VardeckProcess::VardeckProcess(const std::wstring& args, const std::wstring& exe, const wchar_t* desktop) {
  std::wstring path = exe.empty() ? BinDir() + L"vardeck.exe" : exe;
  std::wstring cmd = L"\"" + path + L"\" " + args;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  std::wstring desktopName = desktop ? desktop : L"";
  if (desktop) si.lpDesktop = desktopName.data();
  PROCESS_INFORMATION pi{};
  // Run in the program's folder, as the Run entry and the Start menu do.
  std::wstring folder = path.substr(0, path.rfind(L'\\'));
  if (::CreateProcessW(path.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
    ::CloseHandle(pi.hThread);
    process_.reset(pi.hProcess);
    pid_ = pi.dwProcessId;
  }
}

VardeckProcess::~VardeckProcess() {
  if (!process_ || WaitExit(0)) return;
  RequestTermination();
  if (!WaitExit(10000)) Kill();
}

bool VardeckProcess::WaitExit(DWORD ms, DWORD* code) {
  if (!process_) return true;
  if (::WaitForSingleObject(process_.get(), ms) != WAIT_OBJECT_0) return false;
  if (code) ::GetExitCodeProcess(process_.get(), code);
  return true;
}

void VardeckProcess::Kill() {
  if (!process_) return;
  ::TerminateProcess(process_.get(), 9);
  ::WaitForSingleObject(process_.get(), 10000);
}

HWND VardeckProcess::WaitMainWindow(DWORD ms) {
  DWORD end = ::GetTickCount() + ms;
  for (;;) {
    if (HWND h = FindProcessWindow(pid_, L"#32770", L"Opalix Certificate Manager")) return h;
    if (static_cast<int>(end - ::GetTickCount()) <= 0 || WaitExit(0)) return nullptr;
    ::Sleep(50);
  }
}

void RequestTermination() {
  VardeckProcess stopper(L"-t");
  stopper.WaitExit(10000);
}

namespace {

struct WindowQuery {
  DWORD pid;
  const wchar_t* className;
  const wchar_t* title;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND h, LPARAM param) {
  auto* q = reinterpret_cast<WindowQuery*>(param);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(h, &pid);
  if (pid != q->pid) return TRUE;
  wchar_t cls[64] = {}, title[256] = {};
  ::GetClassNameW(h, cls, 64);
  ::GetWindowTextW(h, title, 256);
  if (q->className && std::wcscmp(cls, q->className) != 0) return TRUE;
  if (q->title && std::wcscmp(title, q->title) != 0) return TRUE;
  q->found = h;
  return FALSE;
}

}  // namespace

HWND FindProcessWindow(DWORD pid, const wchar_t* className, const wchar_t* title) {
  WindowQuery q{pid, className, title, nullptr};
  ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&q));
  return q.found;
}

namespace {

std::wstring Hex(const BYTE* data, DWORD size) {
  std::wstring s;
  wchar_t b[3];
  for (DWORD i = 0; i < size; ++i) {
    std::swprintf(b, 3, L"%02X", data[i]);
    s += b;
  }
  return s;
}

}  // namespace

bool StoreHas(const wchar_t* store, const std::wstring& sha1) {
  vd::UniqueCertStore s(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                        CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, store));
  if (!s) return false;
  PCCERT_CONTEXT c = nullptr;
  while ((c = ::CertEnumCertificatesInStore(s.get(), c)) != nullptr) {
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (::CertGetCertificateContextProperty(c, CERT_SHA1_HASH_PROP_ID, hash, &size) && Hex(hash, size) == sha1) {
      ::CertFreeCertificateContext(c);
      return true;
    }
  }
  return false;
}

bool WaitStore(const wchar_t* store, const std::wstring& sha1, bool present, DWORD ms) {
  DWORD end = ::GetTickCount() + ms;
  while (StoreHas(store, sha1) != present) {
    if (static_cast<int>(end - ::GetTickCount()) <= 0) return false;
    ::Sleep(50);
  }
  return true;
}

std::wstring Sha1OfFile(const std::wstring& derPath) {
  std::vector<uint8_t> der = ReadFileBytes(derPath);
  BYTE hash[20];
  DWORD size = sizeof hash;
  if (der.empty() || !::CryptHashCertificate(0, CALG_SHA1, 0, der.data(), static_cast<DWORD>(der.size()), hash, &size)) {
    return L"";
  }
  return Hex(hash, size);
}

}  // namespace vdtest
