// Wide text for the soak's report, which is plain ASCII: anything else becomes '?'.
#pragma once

#include <string>

namespace quillon::soak {

inline std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace quillon::soak
