// What a process holds, read from outside: its handle count and its committed private memory.
// Shared by the request stress test and the soak, which both watch another process for leaks.
#pragma once

#include <windows.h>

#include <cstddef>

namespace quillon::test {

struct ProcessUsage {
  DWORD handles = 0;
  SIZE_T privateBytes = 0;
};

// Reads both figures of `process` (opened with PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
// false when either could not be read. Where the system's counters report nothing for other
// processes (Wine gives 0 for both), the handle count comes from the system's handle table and
// the private bytes from the committed private regions.
bool MeasureProcess(HANDLE process, DWORD processId, ProcessUsage& usage);

}  // namespace quillon::test
