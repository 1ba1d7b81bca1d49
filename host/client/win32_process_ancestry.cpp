#include "host/client/win32_process_ancestry.h"

#include <tlhelp32.h>

#include <optional>

#include "host/win32_handles.h"

namespace quillon {
namespace {

std::uint64_t AsNumber(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The parent id the process list gives for `process_id`, or nothing when it lists no such
// process.
std::optional<DWORD> ParentIdOf(DWORD process_id) {
  const UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return std::nullopt;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == process_id) return entry.th32ParentProcessID;
  }
  return std::nullopt;
}

}  // namespace

ProcessFacts QueryProcessFacts(DWORD process_id) {
  ProcessFacts facts;  // kNoSuchProcess
  if (process_id == 0) return facts;
  const UniqueKernelHandle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, process_id));
  if (!process) {
    // The system answers an id that names no process with ERROR_INVALID_PARAMETER.
    if (::GetLastError() != ERROR_INVALID_PARAMETER) facts.lookup = ProcessFacts::Lookup::kNoAccess;
    return facts;
  }
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!::GetProcessTimes(process.Get(), &created, &exited, &kernel, &user)) {
    facts.lookup = ProcessFacts::Lookup::kNoAccess;
    return facts;
  }
  facts.lookup = ProcessFacts::Lookup::kFound;
  facts.created = AsNumber(created);
  facts.running = ::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
  return facts;
}

ProcessStarter FindStarter(DWORD process_id) {
  ProcessStarter starter;
  starter.process_id = process_id;
  const std::optional<DWORD> parent_id = ParentIdOf(process_id);
  if (!parent_id) return starter;  // not listed: kUnknown
  starter.parent_id = *parent_id;
  starter.state = JudgeStarter(QueryProcessFacts(process_id), QueryProcessFacts(*parent_id));
  return starter;
}

}  // namespace quillon
