// Benchmark (prints figures; not a test): how long a token's certificates take from the insertion event to
// being visible in MY from another process, against the floor of bare module reads plus bare store adds;
// and the cost of EnumerateTokens per certificate as the number of tokens grows.
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "store_registrar.h"
#include "text.h"
#include "testsupport.h"
#include "token_manager.h"
#include "token_test_util.h"

namespace {

double Ms(LONGLONG ticks) {
  static LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  return 1000.0 * static_cast<double>(ticks) / static_cast<double>(freq.QuadPart);
}

LONGLONG Now() {
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return t.QuadPart;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

std::wstring HexId(int v) {
  wchar_t id[16];
  swprintf(id, 16, L"%04X", v);
  return id;
}

std::wstring Bulk(int i) {
  wchar_t name[32];
  swprintf(name, 32, L"bulk\\bulk%03d.der", i);
  return vdtest::TestCert(name);
}

// A child process whose standard output is read when it has ended.
class Child {
 public:
  explicit Child(const std::wstring& commandLine) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE write = nullptr;
    ::CreatePipe(&read_, &write, &sa, 0);
    ::SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write;
    si.hStdError = write;
    std::wstring cmd = commandLine;
    ::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi_);
    ::CloseHandle(write);
  }
  ~Child() {
    if (pi_.hProcess) {
      ::TerminateProcess(pi_.hProcess, 1);
      ::CloseHandle(pi_.hProcess);
      ::CloseHandle(pi_.hThread);
    }
    ::CloseHandle(read_);
  }
  std::string Output(DWORD timeoutMs) {
    std::string out;
    char buf[512];
    DWORD got = 0;
    ::WaitForSingleObject(pi_.hProcess, timeoutMs);
    while (::PeekNamedPipe(read_, nullptr, 0, nullptr, &got, nullptr) && got > 0 &&
           ::ReadFile(read_, buf, sizeof buf, &got, nullptr) && got > 0)
      out.append(buf, got);
    return out;
  }

 private:
  HANDLE read_ = nullptr;
  PROCESS_INFORMATION pi_{};
};

// The main dialog's part: receives the monitor's posts and calls back into the manager.
struct Receiver {
  vd::TokenManager* manager = nullptr;
  LONGLONG eventAt = 0, registeredAt = 0;

  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == vd::kTokenEventMessage && (w & 0xFFFF) == TOKEN_EVT_INSERTED) {
      auto* self = reinterpret_cast<Receiver*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
      self->eventAt = Now();
      self->manager->OnTokenInserted(static_cast<CK_SLOT_ID>(w >> 16));
      self->registeredAt = Now();
      return 0;
    }
    return ::DefWindowProcW(h, m, w, l);
  }
};

HWND MakeWindow(Receiver* receiver) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &Receiver::Proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TokenBenchWindow";
  ::RegisterClassW(&wc);
  HWND h = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance,
                             nullptr);
  ::SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(receiver));
  return h;
}

void PumpUntil(const LONGLONG& flag, DWORD ms) {
  DWORD start = ::GetTickCount();
  while (!flag && ::GetTickCount() - start < ms) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  }
}

// The platform floor: the module reads of the token's certificates and bare adds of them to MY.
double FloorMs(CK_FUNCTION_LIST* fl, CK_SLOT_ID slot) {
  LONGLONG start = Now();
  std::vector<std::vector<uint8_t>> values;
  CK_SESSION_HANDLE s = 0;
  fl->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s);
  CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
  CK_ATTRIBUTE tmpl = {CKA_CLASS, &cls, sizeof cls};
  fl->C_FindObjectsInit(s, &tmpl, 1);
  CK_OBJECT_HANDLE h;
  CK_ULONG n = 0;
  while (fl->C_FindObjects(s, &h, 1, &n) == CKR_OK && n == 1) {
    CK_ATTRIBUTE a[] = {{CKA_ID, nullptr, 0}, {CKA_VALUE, nullptr, 0}, {CKA_VENDOR_CONTAINER, nullptr, 0},
                        {CKA_LABEL, nullptr, 0}};
    fl->C_GetAttributeValue(s, h, a, 4);
    std::vector<uint8_t> buf[4];
    for (int i = 0; i < 4; ++i) {
      buf[i].resize(a[i].ulValueLen + 1);
      a[i].pValue = buf[i].data();
    }
    fl->C_GetAttributeValue(s, h, a, 4);
    buf[1].resize(a[1].ulValueLen);
    values.push_back(std::move(buf[1]));
  }
  fl->C_FindObjectsFinal(s);
  fl->C_CloseSession(s);
  vd::UniqueCertStore my(vd::OpenSystemStore(L"MY"));
  for (const auto& v : values)
    ::CertAddEncodedCertificateToStore(my.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, v.data(),
                                       static_cast<DWORD>(v.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  vd::CommitAndClose(my);
  return Ms(Now() - start);
}

void InsertionToRegistration(int certs) {
  vdtest::ScopedSimTokenDir dir;
  tokentest::Tokenctl(L"insert 1");
  for (int i = 1; i <= certs; ++i)
    tokentest::AddCert(L"1 \"" + Bulk(i) + L"\" --container Box" + std::to_wstring(i) + L" --id " + HexId(i));
  tokentest::Tokenctl(L"remove 1");
  std::wstring lastSha = vd::Utf8ToWide(tokentest::Sha1OfFile(Bulk(certs)));

  vd::TokenManager manager;
  Receiver receiver{&manager};
  HWND window = MakeWindow(&receiver);
  if (manager.Load() != CKR_OK || manager.StartMonitor(window, vd::kTokenEventMessage) != CKR_OK) {
    printf("cannot bind the token module\n");
    return;
  }
  std::vector<double> handled, visible, floors;
  for (int round = 0; round < 3; ++round) {
    receiver.eventAt = receiver.registeredAt = 0;
    Child watcher(L"\"" + vdtest::BinDir() + L"token_probe.exe\" wait-my " + lastSha + L" 60000");
    ::Sleep(300);  // let the watcher start polling
    Child insert(L"\"" + vdtest::BinDir() + L"tokenctl.exe\" insert 1");
    PumpUntil(receiver.eventAt, 30000);
    std::string seen = watcher.Output(60000);
    long long seenAt = 0;
    if (sscanf(seen.c_str(), "seen %lld", &seenAt) != 1 || !receiver.eventAt) {
      printf("  round %d: no registration seen (event %s, watcher said \"%s\")\n", round,
             receiver.eventAt ? "received" : "never received", seen.c_str());
      continue;
    }
    handled.push_back(Ms(receiver.registeredAt - receiver.eventAt));
    visible.push_back(Ms(seenAt - receiver.eventAt));
    insert.Output(10000);
    manager.OnTokenRemoved(1);
    floors.push_back(FloorMs(manager.Functions(), 1));
    tokentest::RemoveTestCertsFromStores();
    tokentest::Tokenctl(L"remove 1");
  }
  double floor = Median(floors);
  printf("%4d certificates: event to registered %8.1f ms, event to visible in MY from another process %8.1f ms, "
         "floor %8.1f ms, ratio %.2f\n",
         certs, Median(handled), Median(visible), floor, floor > 0 ? Median(handled) / floor : 0.0);
  manager.Unload();
  ::DestroyWindow(window);
}

void EnumerationPerCertificate() {
  vdtest::ScopedSimTokenDir dir;
  const int kTokens = 10, kCerts = 50;
  for (int t = 1; t <= kTokens; ++t) {
    tokentest::Tokenctl(L"insert " + std::to_wstring(t));
    for (int i = 1; i <= kCerts; ++i)
      tokentest::AddCert(std::to_wstring(t) + L" \"" + Bulk(i) + L"\" --container T" + std::to_wstring(t) + L"C" +
                         std::to_wstring(i) + L" --id " + HexId(100 * t + i));
    tokentest::Tokenctl(L"remove " + std::to_wstring(t));
  }
  vd::TokenManager manager;
  if (manager.Load() != CKR_OK) return;
  int present = 0;
  for (int want : {1, 2, 5, 10}) {
    while (present < want) tokentest::Tokenctl(L"insert " + std::to_wstring(++present));
    std::vector<double> runs;
    for (int round = 0; round < 3; ++round) {
      LONGLONG start = Now();
      manager.EnumerateTokens(false);
      runs.push_back(Ms(Now() - start));
    }
    double ms = Median(runs);
    printf("%2d tokens x %d certificates: EnumerateTokens %8.1f ms, %6.3f ms per certificate\n", want, kCerts, ms,
           ms / (want * kCerts));
  }
  for (int t = 1; t <= kTokens; ++t) manager.OnTokenRemoved(t);
  manager.Unload();
}

}  // namespace

// "token_bench_registration quick" measures one certificate only.
int main(int argc, char** argv) {
  bool quick = argc > 1 && std::string(argv[1]) == "quick";
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  setvbuf(stdout, nullptr, _IONBF, 0);
  tokentest::RemoveTestCertsFromStores();
  printf("Insertion to registration (median of 3; floor = bare module reads + bare MY adds of the same "
         "certificates)\n");
  for (int n : {1, 5, 10, 100}) {
    InsertionToRegistration(n);
    if (quick) break;
  }
  if (!quick) {
    printf("EnumerateTokens cost per certificate\n");
    EnumerationPerCertificate();
  }
  tokentest::RemoveTestCertsFromStores();
  vd::TokenManager cleaner;
  cleaner.PurgeRegistrations();
  return 0;
}
