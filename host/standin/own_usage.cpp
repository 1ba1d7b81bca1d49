#include "host/standin/own_usage.h"

namespace quillon::standin {

SIZE_T OwnPrivateBytes() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (auto* address = static_cast<unsigned char*>(nullptr);
       ::VirtualQuery(address, &region, sizeof(region)) == sizeof(region);
       address = static_cast<unsigned char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    if (region.RegionSize == 0) break;
  }
  return total;
}

}  // namespace quillon::standin
