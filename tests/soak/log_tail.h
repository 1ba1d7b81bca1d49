// Reads the lines a running program appends to its log file, as they come: each call hands over
// the complete lines written since the last one.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "host/win32_handles.h"

namespace quillon::soak {

class LogTail {
 public:
  explicit LogTail(std::wstring path) : path_(std::move(path)) {}
  // The complete lines (without their line end) that arrived since the last call.
  std::vector<std::string> NewLines();

 private:
  std::wstring path_;
  UniqueKernelHandle file_;
  std::string pending_;
};

}  // namespace quillon::soak
