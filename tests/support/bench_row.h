// The figures of the simulated module's benchmarks: one line for people and one machine-readable ROW line
// (tab-separated) per figure, which the benchmark collector gathers from every benchmark into one table.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace simbench {

// Nearest-rank percentile (p from 0 to 1) of a non-empty sample.
inline double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

struct Row {
  std::string figure;
  double value;
  double floor;      // negative: no floor to compare with
  const char* unit;
  std::string target;  // e.g. "< 50"
  bool met;
};

inline void Print(const Row& r) {
  std::string floor = "-";
  if (r.floor >= 0) {
    char b[32];
    std::snprintf(b, sizeof b, "%.2f", r.floor);
    floor = b;
  }
  std::printf("ROW\t%s\t%.2f\t%s\t%s\t%s\t%s\n", r.figure.c_str(), r.value, floor.c_str(), r.unit, r.target.c_str(),
              r.met ? "yes" : "no");
}

}  // namespace simbench
