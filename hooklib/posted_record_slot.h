// This thread's mark of the WM_SETICON record whose notice HookProc has posted and is still
// passing on (hook_call.h).
#pragma once

#include <cstdint>

namespace quillon {

// The calling thread's own word, or null when the thread has none. No allocation, no lock, no
// call: a few loads from the thread's block.
std::uintptr_t* PostedRecordSlot() noexcept;

}  // namespace quillon
