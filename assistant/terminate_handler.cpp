// The runtime's default terminate handler prints the demangled type of the exception that ended
// the program, which links the whole C++ demangler into this small program; it has no console to
// print to anyway. Only an out-of-memory exception could get that far.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
