// Measures what one call of the simulated module costs the caller, for the calls a registration pass makes
// most: C_GetAttributeValue, C_GetSlotList and C_FindObjects, each timed on its own, many times, on a token
// with four certificates and their keys. The floor is the same figure for C_GetInfo, a call that reads no
// token state: what the function list, the entry guard and the timer cost by themselves.
// Usage: simtoken_call_bench [CALLS]   (default 2000 timed calls per function)
#include "bench_row.h"
#include "handles.h"
#include "pkcs11.h"
#include "testsupport.h"

#include <cstdlib>
#include <functional>

namespace {

constexpr double kTargetUs = 50;

struct Timer {
  LARGE_INTEGER freq{};
  Timer() { ::QueryPerformanceFrequency(&freq); }
  static LONGLONG Now() {
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return t.QuadPart;
  }
  double Us(LONGLONG ticks) const { return static_cast<double>(ticks) * 1e6 / static_cast<double>(freq.QuadPart); }
};

int CannotMeasure(const char* why) {
  std::fprintf(stderr, "simtoken_call_bench: cannot measure: %s\n", why);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int calls = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (calls < 100) calls = 100;
  Timer timer;
  // Below 1 MHz the counter cannot resolve calls of a few microseconds.
  if (timer.freq.QuadPart < 1000000) return CannotMeasure("the performance counter runs below 1 MHz");

  vdtest::ScopedSimTokenDir dir;
  if (vdtest::RunTool(L"tokenctl.exe", L"insert 1").exitCode != 0) return CannotMeasure("tokenctl insert failed");
  for (const wchar_t* cert : {L"sign.der", L"enc.der", L"root.der", L"inter.der"}) {
    if (vdtest::RunTool(L"tokenctl.exe", L"add-cert 1 \"" + vdtest::TestCert(cert) + L"\"").exitCode != 0)
      return CannotMeasure("tokenctl add-cert failed (are the test certificates made?)");
  }
  vd::UniqueModule dll(::LoadLibraryW((vdtest::BinDir() + L"LumoraCSP11Brindlemark.dll").c_str()));
  if (!dll) return CannotMeasure("the module does not load");
  auto getList = reinterpret_cast<CK_C_GetFunctionList>(
      reinterpret_cast<void*>(::GetProcAddress(dll.get(), "C_GetFunctionList")));
  CK_FUNCTION_LIST* f = nullptr;
  if (!getList || getList(&f) != CKR_OK || !f) return CannotMeasure("the module has no function list");
  if (f->C_Initialize(nullptr) != CKR_OK) return CannotMeasure("C_Initialize failed");
  CK_SESSION_HANDLE s = 0;
  if (f->C_OpenSession(1, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s) != CKR_OK)
    return CannotMeasure("C_OpenSession failed");
  CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
  CK_ATTRIBUTE certTemplate{CKA_CLASS, &certClass, sizeof certClass};
  CK_OBJECT_HANDLE cert = 0;
  CK_ULONG found = 0;
  if (f->C_FindObjectsInit(s, &certTemplate, 1) != CKR_OK || f->C_FindObjects(s, &cert, 1, &found) != CKR_OK ||
      found != 1 || f->C_FindObjectsFinal(s) != CKR_OK)
    return CannotMeasure("no certificate found on the token");

  // Times `calls` calls one by one; false when any of them fails (then the figure would be a failure's cost).
  bool failed = false;
  // `prepare` runs before each call, outside the timed part.
  auto sample = [&](const std::function<CK_RV()>& call, const std::function<void()>& prepare = [] {}) {
    std::vector<double> us;
    us.reserve(calls);
    for (int i = 0; i < 50; ++i) {  // the first call after a change may re-read the state
      prepare();
      call();
    }
    for (int i = 0; i < calls; ++i) {
      prepare();
      LONGLONG a = Timer::Now();
      CK_RV rv = call();
      LONGLONG b = Timer::Now();
      if (rv != CKR_OK) failed = true;
      us.push_back(timer.Us(b - a));
    }
    return us;
  };
  std::vector<double> info = sample([&] {
    CK_INFO i;
    return f->C_GetInfo(&i);
  });
  std::vector<double> attribute = sample([&] {
    uint8_t buf[4096];
    CK_ATTRIBUTE a{CKA_VALUE, buf, sizeof buf};
    return f->C_GetAttributeValue(s, cert, &a, 1);
  });
  std::vector<double> slotList = sample([&] {
    CK_SLOT_ID slots[12];
    CK_ULONG n = 12;
    return f->C_GetSlotList(CK_TRUE, slots, &n);
  });
  // C_FindObjects hands out one handle per call, as the programs ask; a search is restarted when it runs dry,
  // outside the timed call.
  bool searching = false;
  CK_ULONG got = 0;
  std::vector<double> findObjects = sample(
      [&] {
        CK_OBJECT_HANDLE h;
        return f->C_FindObjects(s, &h, 1, &got);
      },
      [&] {
        if (searching && got == 0) {
          f->C_FindObjectsFinal(s);
          searching = false;
        }
        if (!searching) {
          if (f->C_FindObjectsInit(s, nullptr, 0) != CKR_OK) failed = true;
          searching = true;
          got = 1;
        }
      });
  if (searching) f->C_FindObjectsFinal(s);
  f->C_CloseSession(s);
  f->C_Finalize(nullptr);
  if (failed) return CannotMeasure("a timed call did not return CKR_OK");
  for (const std::vector<double>* v : {&info, &attribute, &slotList, &findObjects})
    if (simbench::Percentile(*v, 0.5) <= 0) return CannotMeasure("calls end within one tick of the counter");

  std::printf("per call, token with 4 certificates and 4 keys, latency 0, %d calls each (microseconds):\n", calls);
  struct Figure {
    const char* name;
    const std::vector<double>* us;
  } figures[] = {{"C_GetAttributeValue", &attribute}, {"C_GetSlotList", &slotList}, {"C_FindObjects", &findObjects}};
  for (const Figure& fig : figures) {
    double p50 = simbench::Percentile(*fig.us, 0.5), p99 = simbench::Percentile(*fig.us, 0.99);
    std::printf("  %-20s median %8.1f  p99 %8.1f  (C_GetInfo: median %.1f, p99 %.1f; target < %.0f)\n", fig.name,
                p50, p99, simbench::Percentile(info, 0.5), simbench::Percentile(info, 0.99), kTargetUs);
  }
  char target[16];
  std::snprintf(target, sizeof target, "< %.0f", kTargetUs);
  for (const Figure& fig : figures) {
    double p50 = simbench::Percentile(*fig.us, 0.5), p99 = simbench::Percentile(*fig.us, 0.99);
    simbench::Print({std::string("simtoken ") + fig.name + " median", p50, simbench::Percentile(info, 0.5), "us",
                     target, p50 < kTargetUs});
    simbench::Print({std::string("simtoken ") + fig.name + " p99", p99, simbench::Percentile(info, 0.99), "us",
                     target, p99 < kTargetUs});
  }
  return 0;
}
