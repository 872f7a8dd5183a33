// Benchmark (prints figures; not a test): what a token's registration costs in module calls and in time,
// against its floor (the bare module reads of the same certificates plus bare adds of them to MY), at no
// module latency and at a USB token's round trip; for the insertion (event to registered, and to visible
// in MY from another process) and for EnumerateTokens; and the cost per certificate as a token grows.
// The module calls are counted by p11count.dll, loaded in place of the token module.
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_row.h"
#include "call_counts.h"
#include "store_registrar.h"
#include "testsupport.h"
#include "text.h"
#include "token_manager.h"
#include "token_test_util.h"

namespace {

constexpr wchar_t kCounterName[] = L"regbench";
constexpr int kRounds = 3;
constexpr double kRatioTarget = 1.3;

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

double Median(std::vector<double> v) { return simbench::Percentile(std::move(v), 0.5); }

std::wstring HexId(int v) {
  wchar_t id[16];
  swprintf(id, 16, L"%04X", v);
  return id;
}

// The set has 100 bulk certificates; a bigger token holds them again under other containers.
std::wstring Bulk(int i) {
  wchar_t name[32];
  swprintf(name, 32, L"bulk\\bulk%03d.der", (i - 1) % 100 + 1);
  return vdtest::TestCert(name);
}

// The module calls the program made, the monitor's waiting left out.
uint64_t Calls(const vdtest::CallCounts& counts) { return counts.Total() - counts.Of("E_WaitForEvent"); }

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
  vdtest::CallCounts* counts = nullptr;
  LONGLONG eventAt = 0, registeredAt = 0;
  uint64_t calls = 0;

  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == vd::kTokenEventMessage && vd::TokenEventCodeOf(w) == TOKEN_EVT_INSERTED) {
      auto* self = reinterpret_cast<Receiver*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
      self->counts->Reset();
      self->eventAt = Now();
      self->manager->OnTokenInserted(vd::TokenEventSlotOf(w));
      self->registeredAt = Now();
      self->calls = Calls(*self->counts);
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

// The floor: the bare module reads of the token's certificates (a session, a search one handle at a time,
// lengths then values) and bare adds of them to MY.
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

void FillToken(int certs) {
  tokentest::Tokenctl(L"insert 1");
  for (int i = 1; i <= certs; ++i)
    tokentest::AddCert(L"1 \"" + Bulk(i) + L"\" --container Box" + std::to_wstring(i) + L" --id " + HexId(i));
}

std::string Label(const char* what, int certs, int latencyMs) {
  return std::string(what) + ", " + std::to_string(certs) + " cert(s), " + std::to_string(latencyMs) + " ms latency";
}

void Ratio(const std::string& figure, double program, double floor, const char* unit) {
  simbench::Print({figure, program, floor, unit, "<= 1.3 x floor", floor > 0 && program <= kRatioTarget * floor});
}

// Insertion to registration and EnumerateTokens for one token of `certs` certificates. False when nothing
// could be measured.
bool MeasureToken(int certs, int latencyMs, bool* any) {
  vdtest::ScopedSimTokenDir dir;
  FillToken(certs);
  tokentest::Tokenctl(L"remove 1");
  tokentest::Tokenctl(L"latency " + std::to_wstring(latencyMs));
  std::wstring lastSha = vd::Utf8ToWide(tokentest::Sha1OfFile(Bulk(certs)));

  vdtest::CallCounts counts(kCounterName);
  vd::TokenManager manager(L"p11count.dll");
  Receiver receiver{&manager, &counts};
  HWND window = MakeWindow(&receiver);
  if (!counts.ok() || manager.Load() != CKR_OK || manager.StartMonitor(window, vd::kTokenEventMessage) != CKR_OK) {
    std::printf("cannot bind the token module through p11count.dll\n");
    ::DestroyWindow(window);
    return false;
  }
  std::vector<double> handled, visible, floors, enumerations, floorCalls, calls, enumCalls;
  for (int round = 0; round < kRounds; ++round) {
    receiver.eventAt = receiver.registeredAt = 0;
    Child watcher(L"\"" + vdtest::BinDir() + L"token_probe.exe\" wait-my " + lastSha + L" 60000");
    ::Sleep(300);  // let the watcher start polling
    Child insert(L"\"" + vdtest::BinDir() + L"tokenctl.exe\" insert 1");
    PumpUntil(receiver.eventAt, 30000);
    std::string seen = watcher.Output(60000);
    long long seenAt = 0;
    if (std::sscanf(seen.c_str(), "seen %lld", &seenAt) != 1 || !receiver.eventAt) {
      std::printf("  round %d: no registration seen (event %s, watcher said \"%s\")\n", round,
                  receiver.eventAt ? "received" : "never received", seen.c_str());
      continue;
    }
    handled.push_back(Ms(receiver.registeredAt - receiver.eventAt));
    visible.push_back(Ms(seenAt - receiver.eventAt));
    calls.push_back(static_cast<double>(receiver.calls));
    insert.Output(10000);

    counts.Reset();
    LONGLONG start = Now();
    manager.EnumerateTokens(false);
    enumerations.push_back(Ms(Now() - start));
    enumCalls.push_back(static_cast<double>(Calls(counts)));

    manager.OnTokenRemoved(1);
    counts.Reset();
    floors.push_back(FloorMs(manager.Functions(), 1));
    floorCalls.push_back(static_cast<double>(Calls(counts)));
    tokentest::RemoveTestCertsFromStores();
    tokentest::Tokenctl(L"remove 1");
  }
  tokentest::Tokenctl(L"latency 0");
  manager.Unload();
  ::DestroyWindow(window);
  if (handled.empty()) return false;
  *any = true;
  const double floor = Median(floors), floorCall = Median(floorCalls);
  std::printf("%4d certificates at %d ms: insertion %.1f ms (%.0f calls), visible in MY %.1f ms, EnumerateTokens "
              "%.1f ms (%.0f calls); floor %.1f ms (%.0f calls)\n",
              certs, latencyMs, Median(handled), Median(calls), Median(visible), Median(enumerations),
              Median(enumCalls), floor, floorCall);
  Ratio(Label("insertion, module calls", certs, latencyMs), Median(calls), floorCall, "calls");
  Ratio(Label("insertion, time", certs, latencyMs), Median(handled), floor, "ms");
  Ratio(Label("EnumerateTokens, module calls", certs, latencyMs), Median(enumCalls), floorCall, "calls");
  Ratio(Label("EnumerateTokens, time", certs, latencyMs), Median(enumerations), floor, "ms");
  if (certs == 5 && latencyMs == 5) {
    const double v = Median(visible);
    simbench::Print({"insertion to MY seen by another process, 5 certs, 5 ms latency", v, -1, "ms", "< 300",
                     v < 300});
  }
  return true;
}

// The cost of EnumerateTokens per certificate as the token grows: it should stay flat.
bool PerCertificateCost() {
  bool measured = false;
  for (int certs : {10, 100, 500}) {
    vdtest::ScopedSimTokenDir dir;
    FillToken(certs);
    vd::TokenManager manager;
    if (manager.Load() != CKR_OK) return false;
    std::vector<double> runs;
    for (int round = 0; round < kRounds; ++round) {
      LONGLONG start = Now();
      manager.EnumerateTokens(false);
      runs.push_back(Ms(Now() - start));
    }
    const double perCert = Median(runs) / certs;
    std::printf("%4d certificates: EnumerateTokens %.1f ms, %.3f ms per certificate\n", certs, Median(runs), perCert);
    simbench::Print({"EnumerateTokens per certificate, " + std::to_string(certs) + " certs", perCert, -1, "ms",
                     "flat in the number of certificates", true});
    measured = true;
    manager.OnTokenRemoved(1);
    manager.Unload();
    tokentest::RemoveTestCertsFromStores();
  }
  return measured;
}

}  // namespace

// "token_bench_registration quick" measures one certificate at no latency only.
int main(int argc, char** argv) {
  bool quick = argc > 1 && std::string(argv[1]) == "quick";
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  ::SetEnvironmentVariableW(L"P11COUNT_MODULE", L"LumoraCSP11Brindlemark.dll");
  ::SetEnvironmentVariableW(L"P11COUNT_NAME", kCounterName);
  tokentest::RemoveTestCertsFromStores();
  std::printf("Registration of one token: program against floor (bare module reads + bare MY adds), median of %d\n",
              kRounds);
  bool any = false;
  for (int latency : {0, 5}) {
    for (int n : {1, 5, 10, 100}) {
      MeasureToken(n, latency, &any);
      if (quick) break;
    }
    if (quick) break;
  }
  if (!quick && !PerCertificateCost()) any = false;
  tokentest::RemoveTestCertsFromStores();
  vd::TokenManager cleaner;
  cleaner.PurgeRegistrations();
  if (!any) {
    std::printf("nothing could be measured: no registration was seen (is a display and the build's Wine "
                "prefix there?)\n");
    return 1;
  }
  return 0;
}
