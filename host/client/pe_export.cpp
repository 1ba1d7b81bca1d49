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

  // True when the NUL-terminated text at `at` is `name`.
  bool NameAt(std::uint64_t at, const char* name) const {
    const std::size_t length = std::strlen(name) + 1;
    if (at > bytes_.size() || length > bytes_.size() - at) return false;
    return std::memcmp(bytes_.data() + static_cast<std::size_t>(at), name, length) == 0;
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

  // The file offset of `length` bytes at `rva`, which must lie in one section's file data.
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

// The address of a table's entry, without wrapping around.
std::uint64_t Entry(std::uint32_t table, std::uint32_t index, std::uint64_t size) {
  return std::uint64_t{table} + index * size;
}

}  // namespace

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
  for (std::uint32_t i = 0; i < names; ++i) {
    std::uint64_t name_entry = 0, name_text = 0;
    std::uint32_t name_rva = 0;
    if (!image.Offset(Entry(name_table, i, 4), 4, name_entry) ||
        !image.Read32(name_entry, name_rva) || !image.Offset(name_rva, 1, name_text)) {
      return std::nullopt;
    }
    if (!image.NameAt(name_text, name)) continue;
    std::uint64_t ordinal_entry = 0, function_entry = 0;
    std::uint16_t index = 0;
    std::uint32_t rva = 0;
    if (!image.Offset(Entry(ordinal_table, i, 2), 2, ordinal_entry) ||
        !image.Read16(ordinal_entry, index) || index >= functions ||
        !image.Offset(Entry(function_table, index, 4), 4, function_entry) ||
        !image.Read32(function_entry, rva) || rva == 0) {
      return std::nullopt;
    }
    // An address inside the export table itself is a forwarder's "Library.Name" text.
    if (rva >= image.export_rva() && rva - image.export_rva() < image.export_size()) {
      return std::nullopt;
    }
    return rva;
  }
  return std::nullopt;
}

}  // namespace quillon
