// How Tallyhook keeps itself in a process while its watchdog timer can still call it, and how it
// leaves again. Code of this module cannot free the module and then return into it, so the last
// step runs in the thread pool: the pool unmaps the library after the callback has returned.
#pragma once

#include <windows.h>

#include <atomic>

namespace quillon {

// Takes a reference to the module whose image starts at `module`; false when none was taken.
// Allowed under the loader lock: it only counts one more reference and waits for nothing.
bool HoldModule(HMODULE module);

// Gives a reference taken by HoldModule back, later, from the thread pool: a pause first lets
// the thread that asked leave the module's code. Safe under the loader lock (it only queues the
// work). false when the work could not be queued: the module then stays until the process ends,
// which is safe, since nothing of it runs any more.
bool ReleaseModuleLater(HMODULE module);

// Counts one call of the hook procedure for as long as it runs, so that the watchdog never lets
// the module go while a call is still inside it.
class HookCallScope {
 public:
  explicit HookCallScope(std::atomic<long>& calls) noexcept : calls_(calls) {
    calls_.fetch_add(1, std::memory_order_acq_rel);
  }
  ~HookCallScope() { calls_.fetch_sub(1, std::memory_order_acq_rel); }
  HookCallScope(const HookCallScope&) = delete;
  HookCallScope& operator=(const HookCallScope&) = delete;

 private:
  std::atomic<long>& calls_;
};

}  // namespace quillon
