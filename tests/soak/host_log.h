// The stand-in host's log lines that the soak reads (host/standin writes them): one line per
// event, "hh:mm:ss.mmm  kind       text". Portable, so that the reading is tested natively.
#pragma once

#include <cstdint>
#include <string>

namespace quillon::soak {

enum class HostLineKind {
  kOther,
  kMainWindow,      // host       main window 0x........, dialog "..." 0x........
  kRunning,         // host       running ...
  kStopped,         // host       stopped: hook removed, "Handle" cleared
  kSidecarStarted,  // assistant  started <path> (process N)
  kSidecarLost,     // assistant  Sidecar64 has ended / is gone / does not answer ...
  kSidecarWindow,   // path       window 0x........  <path>  [Sidecar64 itself]
  kNotice,          // notice     window 0x........  <path or (not available...)>
  kWindow,          // window     window 0x........  <path or (...)>  "title"  process N
  kUsage,           // usage      private N bytes
};

struct HostLine {
  HostLineKind kind = HostLineKind::kOther;
  std::uint32_t window = 0;
  std::uint32_t process = 0;
  std::string answer;     // the path, or the host's "(not available...)" text
  bool resolved = false;  // the answer is a path
  std::uint64_t private_bytes = 0;
};

HostLine ParseHostLine(const std::string& line);

}  // namespace quillon::soak
