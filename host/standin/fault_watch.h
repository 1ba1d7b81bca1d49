// Sees every fault in the process as it is raised: Wine swallows exceptions raised in hook
// procedures and timer callbacks, so a fault of a library mapped into the program would otherwise
// leave no trace. The program reports what it saw from its own loop, never from the handler.
#pragma once

#include <windows.h>

namespace quillon::standin {

struct FaultRecord {
  DWORD code = 0;
  const void* address = nullptr;
};

class FaultWatch {
 public:
  FaultWatch();
  ~FaultWatch();
  FaultWatch(const FaultWatch&) = delete;
  FaultWatch& operator=(const FaultWatch&) = delete;

  // Faults seen so far (access violations, illegal or privileged instructions, in-page errors,
  // stack overflows), and the latest of them.
  static long Count();
  static FaultRecord Latest();

 private:
  void* handler_;
};

}  // namespace quillon::standin
