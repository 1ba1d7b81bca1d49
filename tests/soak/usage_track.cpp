#include "tests/soak/usage_track.h"

#include <algorithm>
#include <cstdio>

#include "host/win32_handles.h"

namespace quillon::soak {

bool UsageTrack::Sample(DWORD process_id) {
  const UniqueKernelHandle process(
      ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id));
  test::ProcessUsage usage;
  if (!process || !test::MeasureProcess(process.Get(), process_id, usage)) return false;
  Record(usage);
  return true;
}

void UsageTrack::Record(const test::ProcessUsage& usage) {
  if (samples_++ == 0) first_ = highest_ = usage;
  latest_ = usage;
  highest_.handles = std::max(highest_.handles, usage.handles);
  highest_.privateBytes = std::max(highest_.privateBytes, usage.privateBytes);
}

bool UsageTrack::Flat() const {
  return samples_ > 0 && highest_.handles <= first_.handles + handle_bound_ &&
         highest_.privateBytes <= first_.privateBytes + bytes_bound_;
}

std::string UsageTrack::Report() const {
  if (samples_ == 0) return name_ + ": never measured";
  char text[320];
  std::snprintf(
      text, sizeof text,
      "%s: handles %lu -> %lu (highest %lu, bound +%lu); private %.1f KiB -> %.1f KiB "
      "(highest %.1f KiB, bound +%.0f KiB); %u samples",
      name_.c_str(), static_cast<unsigned long>(first_.handles),
      static_cast<unsigned long>(latest_.handles), static_cast<unsigned long>(highest_.handles),
      static_cast<unsigned long>(handle_bound_), static_cast<double>(first_.privateBytes) / 1024.0,
      static_cast<double>(latest_.privateBytes) / 1024.0,
      static_cast<double>(highest_.privateBytes) / 1024.0,
      static_cast<double>(bytes_bound_) / 1024.0, samples_);
  return text;
}

}  // namespace quillon::soak
