// Reading an export's address from a library's bytes: found exactly by name in both image kinds,
// and nothing (never a wrong address, never a read outside the bytes) for a spoiled image.
#include "host/client/pe_export.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "tests/host/fake_pe_image.h"

namespace quillon::test {
namespace {

using L = FakePeLayout;
const std::vector<FakeExport> kExports = {
    {"Other", 0x1200}, {"HookProcEx", 0x1300}, {"HookProc", 0x16B6}};

TEST(ExportRva, FindsTheExportByItsExactName) {
  for (const bool pe32_plus : {false, true}) {
    SCOPED_TRACE(pe32_plus ? "PE32+" : "PE32");
    const std::vector<unsigned char> image = FakePeImage(kExports, pe32_plus);
    EXPECT_EQ(ExportRva(image, "HookProc"), 0x16B6u);
    EXPECT_EQ(ExportRva(image, "HookProcEx"), 0x1300u);
    EXPECT_EQ(ExportRva(image, "Other"), 0x1200u);
    EXPECT_FALSE(ExportRva(image, "Hook"));
    EXPECT_FALSE(ExportRva(image, "hookproc"));
    EXPECT_FALSE(ExportRva(FakePeImage({{"Other", 0x1200}}, pe32_plus), "HookProc"));
  }
}

TEST(ExportRva, ASpoiledImageGivesNothing) {
  const std::uint32_t directories = L::kOptionalHeader + 96;
  struct Case {
    const char* name;
    std::function<void(std::vector<unsigned char>&)> spoil;
  };
  const Case cases[] = {
      {"no MZ", [](auto& b) { Put(b, 0, 0x5A4E, 2); }},
      {"no PE signature", [](auto& b) { Put(b, L::kPeHeader, 0x00004551, 4); }},
      {"the PE header lies beyond the file", [](auto& b) { Put(b, 0x3C, 0xFFFFFFF0, 4); }},
      {"an unknown optional header", [](auto& b) { Put(b, L::kOptionalHeader, 0x107, 2); }},
      {"no data directories", [=](auto& b) { Put(b, directories - 4, 0, 4); }},
      {"an optional header too short for the export directory",
       [](auto& b) { Put(b, L::kPeHeader + 20, 96, 2); }},
      {"no export table", [=](auto& b) { Put(b, directories, 0, 4); }},
      {"an export table outside every section", [=](auto& b) { Put(b, directories, 0x9000, 4); }},
      {"no section", [](auto& b) { Put(b, L::kPeHeader + 6, 0, 2); }},
      {"a name table outside every section",
       [](auto& b) { Put(b, L::kExportDirectory + 32, 0xFFFFFFFE, 4); }},
      {"an ordinal past the function table",
       [](auto& b) { Put(b, L::kExportDirectory + 20, 2, 4); }},
      {"a function table that wraps around",
       [](auto& b) { Put(b, L::kExportDirectory + 28, 0xFFFFFFFC, 4); }},
      {"an export without an address", [](auto& b) { Put(b, L::kFunctionTable + 8, 0, 4); }},
      {"a forwarder (its address lies in the export table)",
       [](auto& b) { Put(b, L::kFunctionTable + 8, L::kSectionRva + 0x30, 4); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> image = FakePeImage(kExports);
    ASSERT_TRUE(ExportRva(image, "HookProc"));
    c.spoil(image);
    EXPECT_FALSE(ExportRva(image, "HookProc"));
  }
}

// Every cut through the image loses something the look-up needs (HookProc's name comes last):
// each is read from a buffer of exactly that size, so a read past its end would show.
TEST(ExportRva, ATruncatedImageGivesNothing) {
  const std::vector<unsigned char> image = FakePeImage(kExports);
  for (std::size_t size = 0; size < image.size(); ++size) {
    const std::vector<unsigned char> cut(image.data(), image.data() + size);
    EXPECT_FALSE(ExportRva(cut, "HookProc")) << size << " of " << image.size() << " bytes";
  }
}

// The most section headers the format allows, and many names: every look-up reads about log2(names)
// names and walks the headers a few dozen times, not once per name (which took minutes).
TEST(ExportRva, AnImageWithManySectionsAndNamesIsReadQuickly) {
  constexpr std::uint32_t kNames = 300000;
  const std::vector<unsigned char> image = FakeManySectionsImage(65535, kNames);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ExportRva(image, "F0000000"), 0x100u);
  EXPECT_EQ(ExportRva(image, "F0150000"), 0x100u + (150000 & 0x7FF));
  EXPECT_EQ(ExportRva(image, "F0299999"), 0x100u + (299999 & 0x7FF));
  EXPECT_FALSE(ExportRva(image, "HookProc"));  // past every name
  EXPECT_FALSE(ExportRva(image, "F0150000x"));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("5 look-ups in %zu bytes: %.3f s\n", image.size(), seconds);
  EXPECT_LT(seconds, 10.0) << "the work grows with names times sections";
}

}  // namespace
}  // namespace quillon::test
