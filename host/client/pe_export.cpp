#include "host/client/pe_export.h"

#include <cstring>

namespace quillon {
namespace {

// Field offsets of the PE format (all little-endian).
constexpr std::uint64_t kNewHeaderPointer = 0x3C;  // in the DOS header
constexpr std::uint64_t kSectionCount = 4 + 2;     // from the "PE\0\0" signature
constexpr std::uint64_t kOptionalHeaderSize = 4 + 16;
constexpr std::uint64_t kOptionalHeader = 4 + 20;
constexpr std::uint16_t kPe32 = 0x10B;
constexpr std::uint16_t kPe32Plus = 0x20B;
constexpr std::uint64_t kDirectoryCountPe32 = 92;  // in the optional header
constexpr std::uint64_t kDirectoryCountPe32Plus = 108;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kExportDirectorySize = 40;

class Image {
 public:
  explicit Image(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}

  bool Read16(std::uint64_t at, std::uint16_t& value) const { return Read(at, 2, value); }
  bool Read32(std::uint64_t at, std::uint32_t& value) const { return Read(at, 4, value); }

  // The NUL-terminated text at `at` against `name`, as strcmp orders bytes: <0, 0 or >0. Text
  // that the file cuts off before its terminator is compared as far as it goes and never equal.
  int CompareNameAt(std::uint64_t at, const char* name) const {
    for (std::size_t i = 0;; ++i, ++at) {
      if (at >= bytes_.size()) return name[i] == '\0' ? 1 : -1;
      const unsigned char have = bytes_[static_cast<std::size_t>(at)];
      const auto want = static_cast<unsigned char>(name[i]);
      if (have != want) return have < want ? -1 : 1;
      if (have == 0) return 0;
    }
  }

  bool Headers() {
    std::uint16_t magic = 0;
    std::uint32_t pe = 0, signature = 0;
    if (!Read16(0, magic) || magic != 0x5A4D || !Read32(kNewHeaderPointer, pe) ||
        !Read32(pe, signature) || signature != 0x00004550) {
      return false;
    }
    std::uint16_t optional_size = 0, kind = 0;
    if (!Read16(pe + kSectionCount, sections_) ||
        !Read16(pe + kOptionalHeaderSize, optional_size) || !Read16(pe + kOptionalHeader, kind)) {
      return false;
    }
    const std::uint64_t optional = pe + kOptionalHeader;
    const std::uint64_t count_at =
        optional + (kind == kPe32 ? kDirectoryCountPe32 : kDirectoryCountPe32Plus);
    std::uint32_t directories = 0;
    if ((kind != kPe32 && kind != kPe32Plus) || !Read32(count_at, directories)) return false;
    // The export table is the first data directory, right after the count.
    if (directories < 1 || count_at + 4 + 8 > optional + optional_size) return false;
    section_table_ = optional + optional_size;
    return Read32(count_at + 4, export_rva_) && Read32(count_at + 8, export_size_);
  }

  // The file offset of `length` bytes at `rva`, which must lie in one section's file data. One
  // look at each section header: as many as the file holds (at most 65 535).
  bool Offset(std::uint64_t rva, std::uint64_t length, std::uint64_t& offset) const {
    for (std::uint16_t i = 0; i < sections_; ++i) {
      const std::uint64_t header = section_table_ + i * kSectionHeaderSize;
      std::uint32_t address = 0, raw_size = 0, raw_pointer = 0;
      if (!Read32(header + 12, address) || !Read32(header + 16, raw_size) ||
          !Read32(header + 20, raw_pointer)) {
        return false;
      }
      if (rva < address || rva - address + length > raw_size) continue;
      offset = raw_pointer + (rva - address);
      return offset + length <= bytes_.size();
    }
    return false;
  }

  std::uint32_t export_rva() const { return export_rva_; }
  std::uint32_t export_size() const { return export_size_; }

 private:
  template <class T>
  bool Read(std::uint64_t at, std::uint64_t size, T& value) const {
    if (at > bytes_.size() || size > bytes_.size() - at) return false;
    value = 0;
    for (std::uint64_t i = size; i-- > 0;) {
      value = static_cast<T>(value << 8 | bytes_[static_cast<std::size_t>(at + i)]);
    }
    return true;
  }

  const std::vector<unsigned char>& bytes_;
  std::uint16_t sections_ = 0;
  std::uint64_t section_table_ = 0;
  std::uint32_t export_rva_ = 0, export_size_ = 0;
};

}  // namespace

// The export directory's three tables are each found in their section once. The name table
// lists the names in ascending byte order (the loader searches it the same way), so a look-up
// reads about log2(names) names and walks the section headers a few times for each; every table
// must lie inside the file, which bounds every count by the file's size.
std::optional<std::uint32_t> ExportRva(const std::vector<unsigned char>& file, const char* name) {
  Image image(file);
  std::uint64_t directory = 0;
  if (!image.Headers() || image.export_rva() == 0 ||
      !image.Offset(image.export_rva(), kExportDirectorySize, directory)) {
    return std::nullopt;
  }
  std::uint32_t functions = 0, names = 0, function_table = 0, name_table = 0, ordinal_table = 0;
  if (!image.Read32(directory + 20, functions) || !image.Read32(directory + 24, names) ||
      !image.Read32(directory + 28, function_table) || !image.Read32(directory + 32, name_table) ||
      !image.Read32(directory + 36, ordinal_table)) {
    return std::nullopt;
  }
  std::uint64_t names_at = 0, ordinals_at = 0, functions_at = 0;
  if (names == 0 || !image.Offset(name_table, std::uint64_t{names} * 4, names_at) ||
      !image.Offset(ordinal_table, std::uint64_t{names} * 2, ordinals_at) ||
      !image.Offset(function_table, std::uint64_t{functions} * 4, functions_at)) {
    return std::nullopt;
  }
  std::uint32_t low = 0, high = names;  // the name sought lies in [low, high) if anywhere
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    std::uint32_t name_rva = 0;
    std::uint64_t name_text = 0;
    if (!image.Read32(names_at + std::uint64_t{middle} * 4, name_rva) ||
        !image.Offset(name_rva, 1, name_text)) {
      return std::nullopt;
    }
    const int order = image.CompareNameAt(name_text, name);
    if (order < 0) {
      low = middle + 1;
    } else if (order > 0) {
      high = middle;
    } else {
      std::uint16_t index = 0;
      std::uint32_t rva = 0;
      if (!image.Read16(ordinals_at + std::uint64_t{middle} * 2, index) || index >= functions ||
          !image.Read32(functions_at + std::uint64_t{index} * 4, rva) || rva == 0) {
        return std::nullopt;
      }
      // An address inside the export table itself is a forwarder's "Library.Name" text.
      if (rva >= image.export_rva() && rva - image.export_rva() < image.export_size()) {
        return std::nullopt;
      }
      return rva;
    }
  }
  return std::nullopt;
}

}  // namespace quillon
