#include "tests/soak/host_log.h"

#include <cstdlib>

namespace quillon::soak {
namespace {

constexpr std::size_t kStampLength = 14;  // "hh:mm:ss.mmm  "

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// "0x" and eight hex digits at `at`; false when they are not there.
bool ReadHandle(const std::string& text, std::size_t at, std::uint32_t& value) {
  if (text.size() < at + 10 || text.compare(at, 2, "0x") != 0) return false;
  std::uint32_t read = 0;
  for (std::size_t i = at + 2; i < at + 10; ++i) {
    const char c = text[i];
    std::uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else {
      return false;
    }
    read = read * 16 + digit;
  }
  value = read;
  return true;
}

std::uint32_t NumberAfter(const std::string& text, const char* marker) {
  const std::size_t at = text.rfind(marker);
  if (at == std::string::npos) return 0;
  return static_cast<std::uint32_t>(
      std::strtoul(text.c_str() + at + std::char_traits<char>::length(marker), nullptr, 10));
}

// "<kind> window 0x........  <rest>": the window and the rest; false when it is not that shape.
bool ReadWindowLine(const std::string& body, std::size_t kind_width, HostLine& line,
                    std::string& rest) {
  const std::size_t at = kind_width + std::char_traits<char>::length("window ");
  if (body.compare(kind_width, 7, "window ") != 0 || !ReadHandle(body, at, line.window)) {
    return false;
  }
  if (body.compare(at + 10, 2, "  ") != 0) return false;
  rest = body.substr(at + 12);
  return true;
}

void SetAnswer(HostLine& line, std::string answer) {
  line.resolved = !answer.empty() && answer.front() != '(';
  line.answer = std::move(answer);
}

}  // namespace

HostLine ParseHostLine(const std::string& text) {
  HostLine line;
  if (text.size() <= kStampLength) return line;
  const std::string body = text.substr(kStampLength);
  constexpr std::size_t kKindWidth = 11;  // "assistant  ", "notice     " ...
  std::string rest;
  if (StartsWith(body, "host       main window ")) {
    if (ReadHandle(body, std::char_traits<char>::length("host       main window "), line.window)) {
      line.kind = HostLineKind::kMainWindow;
    }
  } else if (StartsWith(body, "host       running")) {
    line.kind = HostLineKind::kRunning;
  } else if (StartsWith(body, "host       stopped: hook removed")) {
    line.kind = HostLineKind::kStopped;
  } else if (StartsWith(body, "assistant  started ")) {
    line.kind = HostLineKind::kSidecarStarted;
    line.process = NumberAfter(body, "(process ");
  } else if (StartsWith(body, "usage      private ")) {
    char* end = nullptr;
    const char* digits = body.c_str() + std::char_traits<char>::length("usage      private ");
    const std::uint64_t bytes = std::strtoull(digits, &end, 10);
    if (end != digits && std::string(end) == " bytes") {
      line.kind = HostLineKind::kUsage;
      line.private_bytes = bytes;
    }
  } else if (StartsWith(body, "assistant  Sidecar64 ")) {
    line.kind = HostLineKind::kSidecarLost;
  } else if (StartsWith(body, "path       ") && ReadWindowLine(body, kKindWidth, line, rest)) {
    const std::size_t tag = rest.rfind("  [Sidecar64 itself]");
    if (tag != std::string::npos) {
      line.kind = HostLineKind::kSidecarWindow;
      SetAnswer(line, rest.substr(0, tag));
    }
  } else if (StartsWith(body, "notice     ") && ReadWindowLine(body, kKindWidth, line, rest)) {
    line.kind = HostLineKind::kNotice;
    SetAnswer(line, rest);
  } else if (StartsWith(body, "window     ") && ReadWindowLine(body, kKindWidth, line, rest)) {
    // The title comes in quotes after the answer and may hold anything; the answer never
    // holds two blanks and a quote.
    const std::size_t title = rest.find("  \"");
    if (title != std::string::npos) {
      line.kind = HostLineKind::kWindow;
      SetAnswer(line, rest.substr(0, title));
      line.process = NumberAfter(rest, "\"  process ");
    }
  }
  return line;
}

}  // namespace quillon::soak
