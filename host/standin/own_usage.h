// The stand-in host's own committed private memory, read inside its own process. Where 32-bit
// programs run under qemu-user, a memory query from another process runs in the target as a
// signal-delivered call, and that has killed the 32-bit target here; a query of one's own memory
// involves nobody else. The host logs it, and the soak reads it from the log.
#pragma once

#include <windows.h>

namespace quillon::standin {

SIZE_T OwnPrivateBytes();

}  // namespace quillon::standin
