// What one read of the liveness value costs through the settings store, as the watchdogs make it
// on every tick: an ordinary value, and a value of a million digits (leading zeros, so that both
// number rules still read a live handle from it).
//
//   settings_read_us_<form>            an ordinary "Handle", microseconds per read
//   settings_read_us_<form>_million    a "Handle" of a million digits
//
//   settings_bench narrow|wide [rounds]
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "host/contract.h"
#include "settings/settings.h"
#include "settings/win32_settings_port.h"

namespace {

namespace contract = quillon::contract;
using quillon::bench::Median;
using quillon::bench::Seconds;

constexpr wchar_t kFileName[] = L"QuillonBench.cfg";

std::wstring SettingsFile() {
  wchar_t appData[MAX_PATH];
  if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData) != S_OK) {
    return L"";
  }
  std::wstring path = std::wstring(appData) + L"\\" + contract::Firm<wchar_t>;
  CreateDirectoryW(path.c_str(), nullptr);
  path += std::wstring(L"\\") + contract::App<wchar_t>;
  CreateDirectoryW(path.c_str(), nullptr);
  return path + L"\\" + kFileName;
}

bool WriteHandle(const std::wstring& file, const std::wstring& value) {
  return WritePrivateProfileStringW(contract::LivenessSection<wchar_t>,
                                    contract::LivenessKey<wchar_t>, value.c_str(),
                                    file.c_str()) != 0;
}

// The median over `rounds` of the microseconds one read takes, each round the mean of `reads`.
template <class Ch>
double ReadMicroseconds(int rounds, int reads, std::size_t expectedLength) {
  using Store = quillon::Win32Settings<Ch>;
  using Text = typename Store::Text;
  Store store(false, Text(contract::Firm<Ch>), Text(contract::App<Ch>),
              quillon::Win32SettingsPort<Ch>());
  // As both deliverables configure theirs: the section read is exactly the section asked for.
  if constexpr (sizeof(Ch) == 1) {
    store.SetBaseKey(Text(""));
    store.SetFileName(Text("QuillonBench.cfg"));
  } else {
    store.SetBaseKey(Text(L""));
    store.SetFileName(Text(kFileName));
  }
  const Text section(contract::LivenessSection<Ch>);
  const Text key(contract::LivenessKey<Ch>);
  std::vector<double> perRead;
  for (int round = 0; round < rounds; ++round) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < reads; ++i) {
      Text value;
      if (!store.ReadValue(section, key, value) ||
          std::char_traits<Ch>::length(value.GetText()) != expectedLength) {
        std::fprintf(stderr, "settings_bench: the read did not give the value written\n");
        return -1;
      }
    }
    QueryPerformanceCounter(&end);
    perRead.push_back(Seconds(start, end) * 1e6 / reads);
  }
  return Median(perRead);
}

}  // namespace

int main(int argc, char** argv) {
  const bool narrow = argc >= 2 && std::strcmp(argv[1], "narrow") == 0;
  if (argc < 2 || (!narrow && std::strcmp(argv[1], "wide") != 0)) {
    std::fprintf(stderr, "usage: settings_bench narrow|wide [rounds]\n");
    return 2;
  }
  const int rounds = argc >= 3 ? std::atoi(argv[2]) : 9;
  const std::wstring file = SettingsFile();
  const std::wstring ordinary = L"1234567";
  const std::wstring million = std::wstring(1000000 - ordinary.size(), L'0') + ordinary;

  struct Figure {
    const char* suffix;
    const std::wstring* value;
    int reads;
  };
  const Figure figures[] = {{"", &ordinary, 200}, {"_million", &million, 3}};
  int status = 0;
  for (const Figure& f : figures) {
    if (!WriteHandle(file, *f.value)) {
      std::fprintf(stderr, "settings_bench: cannot write %ls\n", file.c_str());
      return 1;
    }
    const double us = narrow ? ReadMicroseconds<char>(rounds, f.reads, f.value->size())
                             : ReadMicroseconds<wchar_t>(rounds, f.reads, f.value->size());
    if (us < 0) status = 1;
    std::printf("settings_read_us_%s%s: %.1f\n", argv[1], f.suffix, us);
  }
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str());  // flush the cache
  DeleteFileW(file.c_str());
  return status;
}
