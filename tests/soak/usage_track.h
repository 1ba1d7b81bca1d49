// Handle count and private memory of one kind of process (the host, Sidecar64) across all its
// lives: the first figure, the latest, and the highest, each read only once the process has
// settled, so that start-up does not count as growth.
#pragma once

#include <windows.h>

#include <string>

#include "tests/support/process_usage.h"

namespace quillon::soak {

class UsageTrack {
 public:
  UsageTrack(std::string name, DWORD handle_bound, SIZE_T bytes_bound)
      : name_(std::move(name)), handle_bound_(handle_bound), bytes_bound_(bytes_bound) {}

  // Reads the process `process_id` now; false when it could not be read.
  bool Sample(DWORD process_id);
  // Takes figures read otherwise (the host's own memory from its log).
  void Record(const test::ProcessUsage& usage);
  // Within the bounds: neither the latest nor the highest figure grew past the first by more.
  bool Flat() const;
  bool Sampled() const { return samples_ > 0; }
  // "name: handles 120 -> 121 (highest 125, bound +24), private bytes ..."
  std::string Report() const;

 private:
  std::string name_;
  DWORD handle_bound_;
  SIZE_T bytes_bound_;
  unsigned samples_ = 0;
  test::ProcessUsage first_, latest_, highest_;
};

}  // namespace quillon::soak
