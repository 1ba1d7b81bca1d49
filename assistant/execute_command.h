// ExecuteCommand: runs one request text ("Exit" or "GetPath <reply> <target>") that the receive
// window has copied out of a WM_COPYDATA.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "assistant/command_port.h"
#include "assistant/request_grammar.h"
#include "host/contract.h"

namespace quillon {

// Reads the image path of process `processId` into `path`; true only when all of it, with its
// terminator, is there. Windows refuses kQueryAndReadAccess on an elevated process to a normal one
// but grants kQueryLimitedAccess, so that open comes second. Id 0 names no process: no second try.
template <class Ch, std::size_t N>
bool ReadProcessImagePath(CommandPort<Ch>& port, std::uint32_t processId, std::array<Ch, N>& path) {
  const auto size = static_cast<std::uint32_t>(N);
  if (const ProcessHandle process = port.OpenForImagePath(kQueryAndReadAccess, false, processId)) {
    const bool whole = port.ReadImagePath(process, path.data(), size);
    port.CloseProcess(process);
    return whole;
  }
  if (processId == 0) return false;
  if (const ProcessHandle process = port.OpenForImagePath(kQueryLimitedAccess, false, processId)) {
    const bool whole = port.QueryImagePath(process, path.data(), size);
    port.CloseProcess(process);
    return whole;
  }
  return false;
}

// Splits `request` in place, then either posts the quit message ("Exit"), or sends the image path
// of the target window's process to the reply window ("GetPath"), or does nothing. The reply is
// sent synchronously (for at most contract::kReplySendLimitMs), so another request may run nested
// inside it; this function keeps no state outside its own frame.
template <class Ch>
void ExecuteCommand(Ch* request, CommandPort<Ch>& port) {
  const RequestTokens<Ch> tokens = SplitRequest(request);
  if (tokens.word == nullptr) return;

  if (EqualsIgnoringAsciiCase(tokens.word, contract::ExitCommand<Ch>)) {
    port.Quit(0);
    return;
  }
  if (!EqualsIgnoringAsciiCase(tokens.word, contract::GetPathCommand<Ch>)) return;
  if (tokens.argCount < 2) return;

  // Zero extension: "0xffffffff" is 0x00000000ffffffff, never a negative handle.
  const WindowId replyWindow = ParseHandleArgument(tokens.args[0]);
  const WindowId targetWindow = ParseHandleArgument(tokens.args[1]);

  std::array<Ch, contract::kMaxPathUnits> path{};
  std::uint32_t processId = 0;
  port.WindowProcessId(targetWindow, &processId);

  // Only a whole path goes out: a cut one could name another file. Anything else, a path without
  // its terminator included, is answered with the empty text.
  std::size_t length = 0;
  if (ReadProcessImagePath(port, processId, path)) {
    while (length < path.size() && path[length] != Ch(0)) ++length;
    if (length == path.size()) length = 0;
  }
  path[length] = Ch(0);

  const CopyDataRecord record{targetWindow, static_cast<std::uint32_t>((length + 1) * sizeof(Ch)),
                              path.data()};
  port.SendReply(replyWindow, kCopyDataMessage, targetWindow, record);
}

}  // namespace quillon
