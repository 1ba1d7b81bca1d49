// Timing helpers shared by the benchmarks: elapsed seconds on the performance counter, and the
// median that every reported figure is taken from.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

namespace quillon::bench {

inline double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  return static_cast<double>(to.QuadPart - from.QuadPart) / frequency;
}

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace quillon::bench
