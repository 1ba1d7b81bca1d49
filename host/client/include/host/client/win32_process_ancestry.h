// Who started a process, and whether that starter still runs, from the system's process list
// and each process's creation time. Nothing here reads another process's memory.
#ifndef QUILLON_HOST_CLIENT_WIN32_PROCESS_ANCESTRY_H
#define QUILLON_HOST_CLIENT_WIN32_PROCESS_ANCESTRY_H

#include <windows.h>

#include "host/client/process_ancestry.h"

namespace quillon {

struct ProcessStarter {
  DWORD process_id = 0;  // the process asked about
  DWORD parent_id = 0;   // the id its creator had (0 when the process list did not name it)
  StarterState state = StarterState::kUnknown;
};

// What the system tells about `process_id`: whether there is such a process and may be queried,
// its creation time, and whether it still runs.
ProcessFacts QueryProcessFacts(DWORD process_id);

// The parent of `process_id` and whether it is still the same live process: alive only when a
// process with the parent id runs and was created no later than `process_id`.
ProcessStarter FindStarter(DWORD process_id);

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_WIN32_PROCESS_ANCESTRY_H
