// Linked into every Wine test program (quillon_wine_test) and into the benchmarks that write the
// host's settings (bench/CMakeLists.txt). The tests write, move and delete the
// host's settings under %APPDATA%\Orvane: in anybody else's Wine prefix, or on a real machine,
// those are a real host's settings. So a test program runs only in a prefix that
// scripts/lib/wine.sh made for the tests and marked with this file; anywhere else it ends before
// its first test.
#include <windows.h>

#include <cstdio>

namespace {

constexpr wchar_t kTestPrefixMark[] = L"C:\\quillon-test-prefix.txt";
constexpr UINT kRefusedExitCode = 3;

struct OwnPrefixGuard {
  OwnPrefixGuard() {
    if (GetFileAttributesW(kTestPrefixMark) != INVALID_FILE_ATTRIBUTES) return;
    std::fprintf(
        stderr,
        "refused: C:\\quillon-test-prefix.txt is missing, so this is not the prefix of "
        "Quillon's tests. These tests change the host's settings under "
        "%%APPDATA%%\\Orvane; run them through scripts/test or ctest (scripts/wine-run).\n");
    std::fflush(stderr);
    ExitProcess(kRefusedExitCode);
  }
};

[[maybe_unused]] const OwnPrefixGuard kGuard;

}  // namespace
