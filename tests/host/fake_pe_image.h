// A minimal PE image built in memory, for the tests that read exports from a library's file: the
// headers, one section, and an export table with the given exports: functions (and the names'
// texts) in the given order, the name table sorted by name as linkers write it.
#ifndef QUILLON_TESTS_HOST_FAKE_PE_IMAGE_H
#define QUILLON_TESTS_HOST_FAKE_PE_IMAGE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

namespace quillon::test {

struct FakeExport {
  std::string name;
  std::uint32_t rva;
};

// Offsets within the image, for tests that spoil one field.
struct FakePeLayout {
  static constexpr std::uint32_t kPeHeader = 0x40;
  static constexpr std::uint32_t kOptionalHeader = kPeHeader + 24;
  static constexpr std::uint32_t kSectionRva = 0x1000;
  static constexpr std::uint32_t kSectionFile = 0x400;
  static constexpr std::uint32_t kExportDirectory = kSectionFile;  // at kSectionRva
  static constexpr std::uint32_t kFunctionTable = kExportDirectory + 40;
};

inline void Put(std::vector<unsigned char>& bytes, std::size_t at, std::uint64_t value,
                std::size_t size) {
  if (bytes.size() < at + size) bytes.resize(at + size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
  }
}

inline std::vector<unsigned char> FakePeImage(const std::vector<FakeExport>& exports,
                                              bool pe32_plus = false) {
  using L = FakePeLayout;
  std::vector<unsigned char> image(L::kSectionFile, 0);
  Put(image, 0, 0x5A4D, 2);  // "MZ"
  Put(image, 0x3C, L::kPeHeader, 4);
  Put(image, L::kPeHeader, 0x00004550, 4);  // "PE\0\0"
  Put(image, L::kPeHeader + 4, pe32_plus ? 0x8664 : 0x14C, 2);
  Put(image, L::kPeHeader + 6, 1, 2);  // one section
  const std::uint32_t directories_at = pe32_plus ? 112 : 96;
  const std::uint32_t optional_size = directories_at + 16 * 8;
  Put(image, L::kPeHeader + 20, optional_size, 2);
  Put(image, L::kOptionalHeader, pe32_plus ? 0x20B : 0x10B, 2);
  Put(image, L::kOptionalHeader + directories_at - 4, 16, 4);

  // The section: export directory, function table, name table, ordinal table, names.
  const std::uint32_t count = static_cast<std::uint32_t>(exports.size());
  const std::uint32_t functions = L::kSectionRva + 40;
  const std::uint32_t names = functions + 4 * count;
  const std::uint32_t ordinals = names + 4 * count;
  std::uint32_t text = ordinals + 2 * count;
  const auto file = [](std::uint32_t rva) { return rva - L::kSectionRva + L::kSectionFile; };
  Put(image, file(L::kSectionRva) + 20, count, 4);
  Put(image, file(L::kSectionRva) + 24, count, 4);
  Put(image, file(L::kSectionRva) + 28, functions, 4);
  Put(image, file(L::kSectionRva) + 32, names, 4);
  Put(image, file(L::kSectionRva) + 36, ordinals, 4);
  std::vector<std::uint32_t> by_name(count);
  std::iota(by_name.begin(), by_name.end(), 0u);
  std::sort(by_name.begin(), by_name.end(),
            [&](std::uint32_t a, std::uint32_t b) { return exports[a].name < exports[b].name; });
  std::vector<std::uint32_t> texts(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    Put(image, file(functions + 4 * i), exports[i].rva, 4);
    texts[i] = text;
    for (const char c : exports[i].name) Put(image, file(text++), static_cast<unsigned char>(c), 1);
    Put(image, file(text++), 0, 1);
  }
  for (std::uint32_t slot = 0; slot < count; ++slot) {
    Put(image, file(names + 4 * slot), texts[by_name[slot]], 4);
    Put(image, file(ordinals + 2 * slot), by_name[slot], 2);
  }
  const std::uint32_t used = text - L::kSectionRva;
  Put(image, L::kOptionalHeader + directories_at, L::kSectionRva, 4);  // the export table
  Put(image, L::kOptionalHeader + directories_at + 4, used, 4);

  const std::uint32_t section = L::kOptionalHeader + optional_size;
  Put(image, section + 8, used, 4);
  Put(image, section + 12, L::kSectionRva, 4);
  Put(image, section + 16, used, 4);
  Put(image, section + 20, L::kSectionFile, 4);
  image.resize(L::kSectionFile + used);
  return image;
}

// A crafted image as large as the format allows it to be slow: `sections` section headers, of
// which only the last holds data (FakePeImage's one section, moved behind the headers), and the
// export table of `names` names "F0000000", "F0000001", ...: name k gives 0x100 + (k & 0x7FF)
// (ordinals have 16 bits, so names past 65 536 share functions).
inline std::vector<unsigned char> FakeManySectionsImage(std::uint16_t sections,
                                                        std::uint32_t names) {
  using L = FakePeLayout;
  std::vector<FakeExport> exports(names);
  for (std::uint32_t i = 0; i < names; ++i) {
    std::string name = "F0000000";
    for (std::uint32_t n = i, at = 7; n != 0 && at > 0; n /= 10, --at) {
      name[at] = static_cast<char>('0' + n % 10);
    }
    exports[i] = {name, 0x100 + (i & 0x7FF)};
  }
  const std::vector<unsigned char> one = FakePeImage(exports);
  const std::uint32_t optional_size = one[L::kPeHeader + 20] | std::uint32_t{one[L::kPeHeader + 21]}
                                                                   << 8;
  const std::uint32_t table = L::kOptionalHeader + optional_size;
  const std::uint32_t data = (table + 40 * std::uint32_t{sections} + 0x1FF) & ~0x1FFu;

  const auto at = [](std::uint32_t offset) { return static_cast<std::ptrdiff_t>(offset); };
  std::vector<unsigned char> image(one.begin(), one.begin() + at(table));
  image.resize(data, 0);  // the headers before the last one: empty, so they never match
  Put(image, L::kPeHeader + 6, sections, 2);
  const std::uint32_t last = table + 40 * (std::uint32_t{sections} - 1);
  std::copy(one.begin() + at(table), one.begin() + at(table + 40), image.begin() + at(last));
  Put(image, last + 20, data, 4);
  image.insert(image.end(), one.begin() + at(L::kSectionFile), one.end());
  return image;
}

}  // namespace quillon::test

#endif  // QUILLON_TESTS_HOST_FAKE_PE_IMAGE_H
