#include "tests/soak/log_tail.h"

namespace quillon::soak {

std::vector<std::string> LogTail::NewLines() {
  std::vector<std::string> lines;
  if (!file_) {
    const HANDLE file = ::CreateFileW(path_.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lines;
    file_.Reset(file);
  }
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file_.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    pending_.append(buffer, got);
  }
  std::size_t start = 0;
  for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = pending_.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  pending_.erase(0, start);
  return lines;
}

}  // namespace quillon::soak
