#include "tests/support/process_usage.h"

#include <psapi.h>

#include <vector>

namespace quillon::test {
namespace {

// The system's handle table (NtQuerySystemInformation, SystemHandleInformation), for systems
// whose GetProcessHandleCount reports nothing for other processes (Wine gives 0).
struct SystemHandleEntry {
  ULONG ownerProcessId;
  BYTE objectType;
  BYTE flags;
  USHORT handle;
  PVOID object;
  ACCESS_MASK access;
};
struct SystemHandleTable {
  ULONG count;
  SystemHandleEntry entries[1];
};
using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

DWORD CountHandlesInSystemTable(DWORD processId) {
  const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return 0;
  constexpr ULONG kSystemHandleInformation = 16;
  std::vector<unsigned char> buffer(1 << 20);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    const LONG status =
        query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) {
      const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
      DWORD count = 0;
      for (ULONG i = 0; i < table->count; ++i) {
        if (table->entries[i].ownerProcessId == processId) ++count;
      }
      return count;
    }
    buffer.resize(buffer.size() * 2);
  }
  return 0;
}

// Committed private memory, region by region (VirtualQueryEx): the process's private bytes
// whatever the system's counters report (Wine leaves PrivateUsage at 0 for other processes).
SIZE_T CommittedPrivateBytes(HANDLE process) {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (auto* address = static_cast<unsigned char*>(nullptr);
       VirtualQueryEx(process, address, &region, sizeof(region)) == sizeof(region);
       address = static_cast<unsigned char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    if (region.RegionSize == 0) break;
  }
  return total;
}

}  // namespace

DWORD CountHandles(HANDLE process, DWORD processId) {
  DWORD handles = 0;
  if (!GetProcessHandleCount(process, &handles) || handles == 0) {
    handles = CountHandlesInSystemTable(processId);
  }
  return handles;
}

bool MeasureProcess(HANDLE process, DWORD processId, ProcessUsage& usage) {
  usage.handles = CountHandles(process, processId);
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof(counters)) &&
      counters.PrivateUsage != 0) {
    usage.privateBytes = counters.PrivateUsage;
  } else {
    usage.privateBytes = CommittedPrivateBytes(process);
  }
  return usage.handles != 0 && usage.privateBytes != 0;
}

}  // namespace quillon::test
