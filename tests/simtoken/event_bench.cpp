// Measures the event path between processes:
//  - wake-up latency: tokenctl stamps the event's data with the performance counter while it holds the
//    state lock, right before it appends the event; the waiter here subtracts that stamp from the counter
//    at the moment the event entry returns. The counter is system-wide, so both sides read the same clock.
//  - idle cost: the CPU time this process uses while a thread waits 10 s in the event entry.
// The per-call cost of the module is simtoken_call_bench's.
#include "bench_row.h"
#include "handles.h"
#include "pkcs11.h"
#include "testsupport.h"

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

double FileTimeMs(const FILETIME& ft) {
  return ((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000.0;
}

double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  return FileTimeMs(kernel) + FileTimeMs(user);
}

using simbench::Percentile;

constexpr double kWakeTargetMs = 5;
constexpr double kIdleTargetMs = 10;

int CannotMeasure(const char* why) {
  std::fprintf(stderr, "simtoken_event_bench: cannot measure: %s\n", why);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int events = argc > 1 ? std::atoi(argv[1]) : 200;
  if (events < 1) events = 200;
  vdtest::ScopedSimTokenDir dir;
  vd::UniqueModule dll(::LoadLibraryW((vdtest::BinDir() + L"LumoraCSP11Brindlemark.dll").c_str()));
  if (!dll) return CannotMeasure("the module does not load");
  auto getList = reinterpret_cast<CK_C_GetFunctionList>(
      reinterpret_cast<void*>(::GetProcAddress(dll.get(), "C_GetFunctionList")));
  auto getAux = reinterpret_cast<GetAuxFunctionListFn>(
      reinterpret_cast<void*>(::GetProcAddress(dll.get(), "E_GetAuxFunctionList")));
  CK_FUNCTION_LIST* f = nullptr;
  AuxFunctionList* aux = nullptr;
  if (!getList || !getAux || getList(&f) != CKR_OK || getAux(&aux) != CKR_OK)
    return CannotMeasure("the module lacks its tables");
  if (f->C_Initialize(nullptr) != CKR_OK) return CannotMeasure("C_Initialize failed");

  LARGE_INTEGER freq;
  ::QueryPerformanceFrequency(&freq);
  std::vector<double> latency;
  std::thread waiter([&] {
    for (int i = 0; i < events; ++i) {
      CK_SLOT_ID slot;
      CK_ULONG code, data;
      if (aux->waitForEvent(0, &slot, &code, &data, nullptr) != CKR_OK) return;
      LARGE_INTEGER now;
      ::QueryPerformanceCounter(&now);
      uint32_t ticks = static_cast<uint32_t>(now.QuadPart) - static_cast<uint32_t>(data);  // wraps correctly
      latency.push_back(ticks * 1000.0 / static_cast<double>(freq.QuadPart));
    }
  });
  std::vector<double> roundTrip;
  for (int i = 0; i < events; ++i) {
    LARGE_INTEGER a, b;
    ::QueryPerformanceCounter(&a);
    vdtest::ProcessResult r = vdtest::RunTool(L"tokenctl.exe", L"event 1 256 qpc");
    ::QueryPerformanceCounter(&b);
    if (r.exitCode != 0) {
      std::fprintf(stderr, "tokenctl failed: %s\n", r.err.c_str());
      f->C_Finalize(nullptr);
      waiter.join();
      return CannotMeasure("an event could not be raised");
    }
    roundTrip.push_back((b.QuadPart - a.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart));
  }
  waiter.join();
  if (latency.size() != static_cast<size_t>(events)) return CannotMeasure("the event entry failed before every event");
  double wakeP99 = Percentile(latency, 0.99);
  if (wakeP99 <= 0) return CannotMeasure("the wake-ups end within one tick of the counter");
  std::printf("wake-up latency, tokenctl commit -> event entry returns in another process (%zu events):\n",
              latency.size());
  std::printf("  p50 %.2f ms  p99 %.2f ms  max %.2f ms  (target p99 < %.0f ms)\n", Percentile(latency, 0.5), wakeP99,
              Percentile(latency, 1.0), kWakeTargetMs);
  std::printf("tokenctl process start to exit, for scale: p50 %.1f ms  p99 %.1f ms\n", Percentile(roundTrip, 0.5),
              Percentile(roundTrip, 0.99));

  std::thread idle([&] {
    CK_SLOT_ID slot;
    CK_ULONG code, data;
    aux->waitForEvent(0, &slot, &code, &data, nullptr);  // until C_Finalize below
  });
  ::Sleep(200);  // let the thread settle into its wait
  double before = ProcessCpuMs();
  ::Sleep(10000);
  double after = ProcessCpuMs();
  f->C_Finalize(nullptr);
  idle.join();
  std::printf("CPU time of this process while waiting 10 s in the event entry: %.2f ms  (target < %.0f ms; "
              "the clock counts in steps of up to 15.6 ms)\n",
              after - before, kIdleTargetMs);
  // Only the wake-up goes to the table: the idle CPU time is often below the process clock's step, and a
  // 0 there would read as a figure.
  char wakeTarget[16];
  std::snprintf(wakeTarget, sizeof wakeTarget, "< %.0f", kWakeTargetMs);
  simbench::Print({"simtoken event wake-up p99", wakeP99, -1, "ms", wakeTarget, wakeP99 < kWakeTargetMs});
  return 0;
}
