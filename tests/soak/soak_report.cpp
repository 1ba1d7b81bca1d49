// What the soak prints while it runs and at its end.
#include <cstdio>

#include "tests/soak/soak.h"

namespace quillon::soak {

void Soak::Progress() const {
  const RequestTally t = requests_.Tally();
  std::printf(
      "[%7.1f s] progress: host #%u %s, restarts %u, Sidecar64 kills %u, requests %llu "
      "(right %llu, wrong %llu), notices after restarts %u of %u, faults %u, lost %llu\n",
      Seconds(), host_lives_, host_ && host_->running() && !host_ended_ ? "running" : "down",
      host_lives_ > 0 ? host_lives_ - 1 : 0, sidecar_kills_,
      static_cast<unsigned long long>(t.total), static_cast<unsigned long long>(t.right),
      static_cast<unsigned long long>(t.wrong), notices_received_, notices_expected_, faults_,
      lost_);
  std::fflush(stdout);
}

void Soak::Summary() const {
  const RequestTally t = requests_.Tally();
  auto n = [](std::uint64_t value) { return static_cast<unsigned long long>(value); };
  std::printf("\n== soak summary: seed %llu, %u minutes, %.1f s of schedule run%s\n",
              static_cast<unsigned long long>(config_.seed), config_.minutes, Seconds(),
              interrupted_ ? " (stopped early)" : "");
  std::printf("host restarts:      %u (clean ends %u, kills %u; the final end %s)\n",
              host_lives_ > 0 ? host_lives_ - 1 : 0, clean_ends_ - (final_end_clean_ ? 1 : 0),
              host_kills_, final_end_clean_ ? "clean" : "not clean");
  std::printf(
      "Sidecar64 kills:    %u (%u during a request of ours); back within %llu ms at worst\n",
      sidecar_kills_, sidecar_kills_mid_request_, n(worst_recovery_ms_));
  std::printf(
      "requests (ours):    %llu: right path %llu, wrong path %llu, not available %llu, "
      "no Sidecar64 %llu, Sidecar64 gone %llu, timed out %llu, busy %llu, bad reply %llu, "
      "other %llu\n",
      n(t.total), n(t.right), n(t.wrong), n(t.not_available), n(t.no_assistant),
      n(t.assistant_gone), n(t.timed_out), n(t.busy), n(t.bad_reply), n(t.other));
  std::printf("request time:       worst %u ms (limit %u ms), %llu over the limit\n", t.worst_ms,
              requests_.LimitMs(), n(t.over_limit));
  if (!t.first_wrong.empty()) std::printf("first wrong path:   %s\n", t.first_wrong.c_str());
  std::printf("requests (host's):  %llu with a path (%llu of them wrong), %llu with a status\n",
              n(host_resolved_ + host_wrong_), n(host_wrong_), n(host_not_available_));
  std::printf(
      "notices:            %u expected after host and flipper starts, %u received, %u "
      "dropped (window or host gone first); %u gaps of 30 s; %llu notices in all\n",
      notices_expected_, notices_received_, notices_dropped_, notice_gaps_, n(notices_total_));
  std::printf(
      "icon changes:       %llu made by flippers while a host ran (3 s margins), %llu of them "
      "noticed; %llu notices for them (%.2f per change: more than 1 means duplicates)\n",
      n(changes_expected_), n(changes_noticed_), n(notices_counted_),
      changes_expected_ == 0
          ? 0.0
          : static_cast<double>(notices_counted_) / static_cast<double>(changes_expected_));
  unsigned starts = 0, closes = 0;
  for (const auto& program : programs_) {
    starts += program->starts();
    closes += program->closes();
  }
  std::printf("programs:           %u starts, %u closes\n", starts, closes);
  std::printf("faults:             %u\n", faults_);
  std::printf("stray Sidecar64:    %zu\n", strays_.size());
  std::printf("%s\n%s\n", host_usage_.Report().c_str(), sidecar_usage_.Report().c_str());
  std::printf("left behind:        %zu files\n", leftovers_.size());
  if (!hook_library_note_.empty()) std::printf("%s\n", hook_library_note_.c_str());
  if (lost_ + faults_ == 0) {
    std::printf("== soak: nothing lost\n");
  } else {
    std::printf("== soak: %llu lost, %u faults\n", static_cast<unsigned long long>(lost_), faults_);
  }
  std::fflush(stdout);
}

}  // namespace quillon::soak
