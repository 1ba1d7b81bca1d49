// A minimal PE image built in memory, for the tests that read exports from a library's file: the
// headers, one section, and an export table naming the given exports in the given order.
#ifndef QUILLON_TESTS_HOST_FAKE_PE_IMAGE_H
#define QUILLON_TESTS_HOST_FAKE_PE_IMAGE_H

#include <cstdint>
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
  for (std::uint32_t i = 0; i < count; ++i) {
    Put(image, file(functions + 4 * i), exports[i].rva, 4);
    Put(image, file(names + 4 * i), text, 4);
    Put(image, file(ordinals + 2 * i), i, 2);
    for (const char c : exports[i].name) Put(image, file(text++), static_cast<unsigned char>(c), 1);
    Put(image, file(text++), 0, 1);
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

}  // namespace quillon::test

#endif  // QUILLON_TESTS_HOST_FAKE_PE_IMAGE_H
