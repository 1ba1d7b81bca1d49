#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_input.h"

namespace quillon::fuzz {

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();  // libFuzzer saves the input as a crash
}

}  // namespace quillon::fuzz
