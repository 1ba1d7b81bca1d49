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

// Splits `request` in place, then either posts the quit message ("Exit"), or sends the image path
// of the target window's process to the reply window ("GetPath"), or does nothing. The reply is
// sent synchronously, so another request may run nested inside it; this function keeps no state
// outside its own frame.
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
  if (const ProcessHandle process = port.OpenForImagePath(kQueryAndReadAccess, false, processId)) {
    port.ReadImagePath(process, path.data(), static_cast<std::uint32_t>(path.size()));
    port.CloseProcess(process);
  }

  // A cut path may come without its terminator; the last unit is always kept for one.
  std::size_t length = 0;
  while (length + 1 < path.size() && path[length] != Ch(0)) ++length;
  path[length] = Ch(0);

  const CopyDataRecord record{targetWindow, static_cast<std::uint32_t>((length + 1) * sizeof(Ch)),
                              path.data()};
  port.SendReply(replyWindow, kCopyDataMessage, targetWindow, record);
}

}  // namespace quillon
