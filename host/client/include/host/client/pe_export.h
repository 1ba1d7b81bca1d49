// Where a library's export lies, read from the library's file without loading it: the loader
// would run nothing, but reading the bytes also works for an image of the other bitness and for
// a copy that another process maps, and needs no Win32 at all.
#ifndef QUILLON_HOST_CLIENT_PE_EXPORT_H
#define QUILLON_HOST_CLIENT_PE_EXPORT_H

#include <cstdint>
#include <optional>
#include <vector>

namespace quillon {

// The relative virtual address (the offset from the image's base once mapped) that the export
// table of the PE32 or PE32+ image `file` gives the export `name`. Nothing when `file` is not
// such an image, does not export `name` by that name, or forwards it to another library (then
// no code of this image lies there).
std::optional<std::uint32_t> ExportRva(const std::vector<unsigned char>& file, const char* name);

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_PE_EXPORT_H
