// The command interpreter's platform operations, done by Win32.
#pragma once

#include "assistant/command_port.h"

namespace quillon {

// The process-wide adapter; it holds no state.
CommandPort<wchar_t>& Win32CommandPort();

}  // namespace quillon
