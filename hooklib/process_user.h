// Whose process owns a window, as far as the watchdog needs to know: the same user as this
// process, or not.
#pragma once

#include <windows.h>

namespace quillon {

// Whether this process runs as the user (the token user) of the process that owns `window`.
// false when that cannot be told: no such window, or its process or token may not be opened,
// as is usual for a process of another user. Waits for nothing and takes no lock of ours; the
// watchdog asks only during a tick, never under the loader lock.
bool RunsAsOwnerOfWindow(HWND window);

}  // namespace quillon
