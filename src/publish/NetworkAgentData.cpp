#include "publish/NetworkAgentData.h"

NetworkAgentData::NetworkAgentData(const uint8_t* bytes, uint32_t length, PacketKind kind)
    : NamedObject("NetworkAgentData"), length_(length), kind_(kind) {
  if (length == 0 || !bytes) return;
  buffer_ = PacketBuffer::copyOf(bytes, length);
  if (!buffer_) logError("NetworkAgentData", __LINE__, "new() failure - out of memory");
}

NetworkAgentData::NetworkAgentData(uint32_t length, PacketKind kind)
    : NamedObject("NetworkAgentData"), length_(length), kind_(kind) {}
