// The mark lives in the image's static TLS: the loader copies the .tls section for every thread,
// also for a library loaded after the threads started (Windows since Vista, and Wine). g++ 12
// for MinGW makes emulated TLS of `thread_local` and `__declspec(thread)`: its first use on a
// thread allocates and takes a lock, neither of which a hook procedure may do. So the variable
// is placed into the section by hand and found as the compiler of another toolchain would find
// it: the thread's block array in its TEB, indexed by the image's TLS index, plus the variable's
// offset from the section's start (the CRT's `_tls_start`, which the TLS directory names as the
// start of the template).
#include "hooklib/posted_record_slot.h"

#include <windows.h>

extern "C" {
extern ULONG _tls_index;  // set by the loader (the CRT's TLS directory names it)
extern char _tls_start;   // the first byte of the template, in ".tls"
}

namespace {

// ".tls$" parts are placed in name order between ".tls" and ".tls$ZZZ" (the CRT's end).
__attribute__((section(".tls$QUILLON"), used)) std::uintptr_t g_postedRecordTemplate = 0;

// TEB.ThreadLocalStoragePointer (the headers' __readfsdword trips g++'s bounds warning).
char** ThreadTlsBlocks() noexcept {
  char** blocks = nullptr;
#if defined(_WIN64)
  __asm__("movq %%gs:0x58, %0" : "=r"(blocks));
#else
  __asm__("movl %%fs:0x2C, %0" : "=r"(blocks));
#endif
  return blocks;
}

}  // namespace

namespace quillon {

std::uintptr_t* PostedRecordSlot() noexcept {
  char** const blocks = ThreadTlsBlocks();
  if (blocks == nullptr) return nullptr;
  char* const block = blocks[_tls_index];
  if (block == nullptr) return nullptr;
  const std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(&g_postedRecordTemplate) -
                                reinterpret_cast<std::uintptr_t>(&_tls_start);
  return reinterpret_cast<std::uintptr_t*>(block + offset);
}

}  // namespace quillon
