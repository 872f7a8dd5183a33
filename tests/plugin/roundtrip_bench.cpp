// plugin_roundtrip_bench METHOD ROUNDS: the time of one call of METHOD through the plug-in in nphost,
// against the tokens of SIMTOKEN_DIR. Prints "METHOD median_us min_us answer_chars" on one line; the browser
// benchmark sets the tokens up, runs this beside its page round trips and compares. Exits 1, saying why,
// when it cannot measure.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "plugin_page.h"
#include "trusted_list.h"
#include "trusted_origins.h"

namespace {

double Now() {
  static const double freq = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / freq;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::atoi(argv[2]) <= 0) {
    std::fprintf(stderr, "usage: plugin_roundtrip_bench METHOD ROUNDS\n");
    return 1;
  }
  const char* method = argv[1];
  const int rounds = std::atoi(argv[2]);
  // nphost's page must be listed, as the bank's would be; the browser benchmark lists it beside its own.
  std::optional<hosttest::ScopedTrustedOrigins> list;
  if (!tq::TrustedOrigins::FromRegistry().Names("http://127.0.0.1")) {
    list.emplace();
    if (!list->SetList({L"http://127.0.0.1"})) return 1;
  }
  plugintest::Page page;
  if (!page.ready()) {
    std::fprintf(stderr, "plugin_roundtrip_bench: the plug-in gave no object\n");
    return 1;
  }
  const std::string first = page.Call(method);  // warm: the module is bound by now
  if (first == "error" || first == "no object") {
    std::fprintf(stderr, "plugin_roundtrip_bench: %s answered %s\n", method, first.c_str());
    return 1;
  }
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    const double start = Now();
    page.Call(method);
    times.push_back(Now() - start);
  }
  // The median: a machine shared with other work adds outliers that a mean would carry.
  std::sort(times.begin(), times.end());
  std::printf("%s %.1f %.1f %zu\n", method, times[times.size() / 2] * 1e6, times.front() * 1e6, first.size());
  return 0;
}
