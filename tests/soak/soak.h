// The soak itself: runs the whole system (the stand-in host with both companions, Wine's own
// programs and our icon flippers) through a seeded schedule of host restarts and kills, Sidecar64
// kills and programs that come and go, with GetPath requests for every window all the time, and
// counts everything that was lost.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/soak/host_run.h"
#include "tests/soak/programs.h"
#include "tests/soak/request_loop.h"
#include "tests/soak/schedule.h"
#include "tests/soak/usage_track.h"

namespace quillon::soak {

struct SoakConfig {
  unsigned minutes = 1;
  std::uint64_t seed = 1;
  std::wstring dist;       // the shipped programs and the icon flipper
  std::wstring out;        // the logs of this run
  std::wstring stop_file;  // when it appears, the soak ends early (Ctrl-C in scripts/soak)
};

// Exit codes: 0 nothing lost; 1 something lost; 2 stopped early, nothing lost so far; 3 the
// system could not even be started.
class Soak {
 public:
  explicit Soak(SoakConfig config);
  ~Soak();
  Soak(const Soak&) = delete;
  Soak& operator=(const Soak&) = delete;

  int Run();

 private:
  // A flipper window the current host must hear from: after a host start, and after a flipper
  // start while a host runs.
  struct Expectation {
    unsigned host = 0;
    HWND window = nullptr;
    ULONGLONG deadline = 0;
  };

  bool Begin();
  void Step();
  void Finish();

  bool TryEvent(const Event& event);
  bool KillSidecar(bool mid_request);
  void Toggle(std::uint32_t program);
  void StartHost();
  void EndHost(bool clean);
  void PollHost();
  void OnHostLine(const HostLine& line);
  void PollPrograms();
  void ExpectNotices(HWND only_window);
  void CheckNotices();
  void CountNotices(ULONGLONG end_at);
  void CheckSidecarRecovery();
  void CheckRequests();
  void CheckStraySidecars(bool final_check);
  void UpdateTargets();
  void SampleUsage();
  void Progress() const;
  void Summary() const;
  void FinalLeftoverChecks();

  void Lost(const std::string& what, std::uint64_t count = 1);
  void Fault(const std::string& what);
  std::wstring ExpectedPathOf(DWORD process_id) const;
  bool StopRequested() const;
  ULONGLONG Elapsed() const;
  double Seconds() const { return static_cast<double>(Elapsed()) / 1000.0; }
  std::vector<Program*> Flippers();

  SoakConfig config_;
  std::wstring host_exe_, sidecar_exe_, flipper_exe_;
  std::vector<Event> schedule_;
  std::uint32_t run_end_ms_ = 0;
  std::size_t next_event_ = 0;
  bool event_announced_ = false;

  std::vector<std::unique_ptr<Program>> programs_;  // toggled ones first, then the fixed flipper
  std::unique_ptr<HostRun> host_;
  unsigned host_lives_ = 0;
  ULONGLONG host_running_at_ = 0;
  ULONGLONG host_back_at_ = 0;  // when the host is due again after an end (0: not due)
  bool host_ended_ = false;     // by the soak: its end is no fault
  unsigned clean_ends_ = 0, host_kills_ = 0;
  bool final_end_clean_ = false;
  RequestLoop requests_;

  std::vector<Expectation> expectations_;
  std::map<HWND, ULONGLONG> last_notice_;  // per flipper window, in the current host's life
  std::set<HWND> expected_windows_;        // with an open expectation for the current host
  std::map<HWND, std::vector<ULONGLONG>> notice_times_;  // in the current host's life
  std::uint64_t changes_expected_ = 0, changes_noticed_ = 0, notices_counted_ = 0;
  unsigned notices_expected_ = 0, notices_received_ = 0, notices_dropped_ = 0;
  unsigned notice_gaps_ = 0;
  std::uint64_t notices_total_ = 0;
  std::uint64_t host_resolved_ = 0, host_not_available_ = 0, host_wrong_ = 0;

  unsigned sidecar_kills_ = 0, sidecar_kills_mid_request_ = 0;
  unsigned kills_unreported_ = 0;  // kills the current host has not yet reported as losses
  ULONGLONG last_kill_at_ = 0;
  bool awaiting_recovery_ = false;
  ULONGLONG sidecar_back_at_ = 0;  // when the host logged its start after the latest kill
  ULONGLONG worst_recovery_ms_ = 0;
  std::map<DWORD, ULONGLONG> not_current_since_;
  std::set<DWORD> strays_;

  UsageTrack host_usage_{"host", 16, 2 * 1024 * 1024};
  UsageTrack sidecar_usage_{"Sidecar64", 8, 1024 * 1024};
  DWORD sidecar_current_ = 0;
  ULONGLONG sidecar_current_since_ = 0;

  std::set<std::wstring> places_before_;
  std::vector<std::string> leftovers_;
  std::string hook_library_note_;

  unsigned faults_ = 0;
  std::uint64_t lost_ = 0;
  RequestTally requests_seen_;  // what CheckRequests has already counted
  bool interrupted_ = false;
  ULONGLONG began_ = 0;
  ULONGLONG last_progress_ = 0, last_targets_ = 0, last_usage_ = 0, last_stray_check_ = 0;
};

}  // namespace quillon::soak
