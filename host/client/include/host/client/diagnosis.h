// Why icon tracking works or not: one entry per link of the chain that Tallyhook and Sidecar64
// rely on, each with its state, what was found and what to do. A diagnosis only looks (window,
// file, process-list and version queries): it writes, installs and ends nothing, and reads no
// other process's memory. The decisions are portable over DiagnosisPort (diagnosis_port.h); the
// Win32 call that gathers the facts is in win32_diagnosis.h.
#ifndef QUILLON_HOST_CLIENT_DIAGNOSIS_H
#define QUILLON_HOST_CLIENT_DIAGNOSIS_H

#include <string>
#include <vector>

namespace quillon {

enum class LinkState { kOk, kBroken, kUnknown };

const char* Describe(LinkState state);  // "ok", "broken", "unknown"

// One link. The texts are UTF-8.
struct DiagnosisEntry {
  std::string link;  // "Settings", "Other instances", "Shell chain", ...
  LinkState state = LinkState::kUnknown;
  std::string summary;             // one line: what was found, in short
  std::vector<std::string> facts;  // what was looked at and what it showed, one line each
  std::string remedy;              // what to do; empty when the link is ok
};

struct Diagnosis {
  std::vector<DiagnosisEntry> entries;  // in the order of the chain

  // Every link ok.
  bool Working() const;
  // The first broken link, else the first unknown one; null when every link is ok.
  const DiagnosisEntry* FirstNotOk() const;
  // The entry of that link, or null.
  const DiagnosisEntry* Find(const std::string& link) const;
};

// "icon tracking: working", or "icon tracking: not working: <link>: <summary>" for the first
// broken link, or "icon tracking: not confirmed: <link>: <summary>" when no link is broken but
// one could not be judged.
std::string Verdict(const Diagnosis& diagnosis);
// The verdict, then every entry with its facts and remedy, as lines of text.
std::string FormatText(const Diagnosis& diagnosis);
// {"verdict": ..., "working": ..., "entries": [{"link", "state", "summary", "facts", "remedy"}]}
std::string FormatJson(const Diagnosis& diagnosis);

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_DIAGNOSIS_H
