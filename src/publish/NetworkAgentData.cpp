#include "publish/NetworkAgentData.h"

#include <cstring>
#include <new>

NetworkAgentData::NetworkAgentData(const uint8_t* bytes, uint32_t length, PacketKind kind)
    : NamedObject("NetworkAgentData"), length_(length), kind_(kind) {
  if (length == 0 || !bytes) return;
  bytes_.reset(new (std::nothrow) uint8_t[length]);
  if (!bytes_) {
    logError("NetworkAgentData", __LINE__, "new() failure - out of memory");
    return;
  }
  std::memcpy(bytes_.get(), bytes, length);
}
