// Text for the soak's report, which is plain ASCII.
#pragma once

#include <string>

namespace quillon::soak {

// A bound for the report, from the constant that holds it: "20 s".
inline std::string SecondsText(unsigned long long milliseconds) {
  return std::to_string(milliseconds / 1000) + " s";
}

// Wide text, anything beyond ASCII as '?'.
inline std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace quillon::soak
