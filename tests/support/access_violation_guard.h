// A guard that sees every access violation in the process: Wine swallows exceptions in hook
// procedures and timer callbacks, so a fault there would otherwise go unnoticed.
#pragma once

namespace quillon::test {

// Counts access violations anywhere in the process for as long as it lives.
class AccessViolationGuard {
 public:
  AccessViolationGuard();
  ~AccessViolationGuard();
  AccessViolationGuard(const AccessViolationGuard&) = delete;
  AccessViolationGuard& operator=(const AccessViolationGuard&) = delete;
  static long count();

 private:
  void* handler_;
};

}  // namespace quillon::test
