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

// The handle count alone (0 when unknown). Unlike the private bytes it never asks the target
// process itself: safe for 32-bit processes under qemu-user, which a memory query from outside
// can kill there.
DWORD CountHandles(HANDLE process, DWORD processId);

}  // namespace quillon::test
