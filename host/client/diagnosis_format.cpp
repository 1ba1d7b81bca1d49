// The report as text and as JSON.
#include <cstdio>
#include <string>

#include "host/client/diagnosis.h"

namespace quillon {
namespace {

void AppendJsonString(std::string& out, const std::string& text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(byte));
      out += escaped;
    } else {
      out += c;  // UTF-8 passes as it is
    }
  }
  out += '"';
}

}  // namespace

const char* Describe(LinkState state) {
  switch (state) {
    case LinkState::kOk:
      return "ok";
    case LinkState::kBroken:
      return "broken";
    case LinkState::kUnknown:
      return "unknown";
  }
  return "unknown";
}

bool Diagnosis::Working() const { return !entries.empty() && FirstNotOk() == nullptr; }

const DiagnosisEntry* Diagnosis::FirstNotOk() const {
  for (const DiagnosisEntry& entry : entries) {
    if (entry.state == LinkState::kBroken) return &entry;
  }
  for (const DiagnosisEntry& entry : entries) {
    if (entry.state == LinkState::kUnknown) return &entry;
  }
  return nullptr;
}

const DiagnosisEntry* Diagnosis::Find(const std::string& link) const {
  for (const DiagnosisEntry& entry : entries) {
    if (entry.link == link) return &entry;
  }
  return nullptr;
}

std::string Verdict(const Diagnosis& diagnosis) {
  const DiagnosisEntry* first = diagnosis.FirstNotOk();
  if (first == nullptr) {
    return diagnosis.entries.empty() ? "icon tracking: not confirmed: nothing was looked at"
                                     : "icon tracking: working";
  }
  const char* how = first->state == LinkState::kBroken ? "not working" : "not confirmed";
  return std::string("icon tracking: ") + how + ": " + first->link + ": " + first->summary;
}

std::string FormatText(const Diagnosis& diagnosis) {
  std::string out = Verdict(diagnosis) + "\n";
  for (const DiagnosisEntry& entry : diagnosis.entries) {
    out += "\n[" + std::string(Describe(entry.state)) + "] " + entry.link + ": " + entry.summary +
           "\n";
    for (const std::string& fact : entry.facts) out += "    " + fact + "\n";
    if (!entry.remedy.empty()) out += "  what to do: " + entry.remedy + "\n";
  }
  return out;
}

std::string FormatJson(const Diagnosis& diagnosis) {
  std::string out = "{\n  \"verdict\": ";
  AppendJsonString(out, Verdict(diagnosis));
  out += ",\n  \"working\": ";
  out += diagnosis.Working() ? "true" : "false";
  out += ",\n  \"entries\": [";
  bool first_entry = true;
  for (const DiagnosisEntry& entry : diagnosis.entries) {
    out += first_entry ? "\n    {" : ",\n    {";
    first_entry = false;
    out += "\"link\": ";
    AppendJsonString(out, entry.link);
    out += ", \"state\": ";
    AppendJsonString(out, Describe(entry.state));
    out += ", \"summary\": ";
    AppendJsonString(out, entry.summary);
    out += ", \"facts\": [";
    for (std::size_t i = 0; i < entry.facts.size(); ++i) {
      if (i != 0) out += ", ";
      AppendJsonString(out, entry.facts[i]);
    }
    out += "], \"remedy\": ";
    AppendJsonString(out, entry.remedy);
    out += "}";
  }
  out += "\n  ]\n}\n";
  return out;
}

}  // namespace quillon
