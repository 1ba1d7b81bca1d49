// What reading HookProc's address from a library's file costs when the file is crafted to make it
// slow: the most section headers the format allows and a million names (about 21 MB), as
// IconHook::Install and CheckOldCopies read every aside copy left beside the installed file.
//
//   export_lookup_ms_65535_sections   milliseconds per look-up of a name that is not there
//
//   export_bench [rounds]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/timing.h"
#include "host/client/pe_export.h"
#include "tests/host/fake_pe_image.h"

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 9;
  const std::vector<unsigned char> image = quillon::test::FakeManySectionsImage(65535, 1000000);
  std::vector<double> milliseconds;
  for (int round = 0; round < rounds; ++round) {
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    const bool found = quillon::ExportRva(image, "HookProc").has_value();
    QueryPerformanceCounter(&to);
    if (found) return 1;
    milliseconds.push_back(1000 * quillon::bench::Seconds(from, to));
  }
  std::printf("export_lookup_ms_65535_sections: %.3f\n", quillon::bench::Median(milliseconds));
  return 0;
}
