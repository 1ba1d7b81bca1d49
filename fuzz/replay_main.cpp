// Replays fuzz inputs without libFuzzer: every file named on the command line, or found in a
// folder named there, goes once through the target. Lets the native test suite run the seed
// corpora and the saved findings under its own sanitizers.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void RunFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  std::fprintf(stderr, "replay %s (%zu bytes)\n", path.c_str(), bytes.size());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::directory_iterator(path)) {
        if (entry.is_regular_file()) {
          RunFile(entry.path());
          ++files;
        }
      }
    } else if (std::filesystem::is_regular_file(path)) {
      RunFile(path);
      ++files;
    }
  }
  std::fprintf(stderr, "%d inputs replayed\n", files);
  return files > 0 ? 0 : 1;
}
