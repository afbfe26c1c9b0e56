// One packet waiting in a network agent's queue. An event agent's data and
// class-record packets arrive as the buffer it filled (handed over, not
// copied: the event agent takes another buffer of its pool for its next
// packet); other packets, the hello packet among them, are copied in.
#pragma once

#include <cstdint>
#include <utility>

#include "base/NamedObject.h"
#include "publish/PacketBuffer.h"

// What a packet is to the connection: the hello packet and the packet of
// class records open a connection's stream (the master event agent sends them
// after every reconnection); everything else is data.
enum class PacketKind : uint8_t { Data, Hello, Classes };

class NetworkAgentData : public NamedObject {
 public:
  // Copies the packet; when the copy cannot be allocated, bytes() is null.
  NetworkAgentData(const uint8_t* bytes, uint32_t length, PacketKind kind = PacketKind::Data);
  // An entry of `length` bytes whose buffer is handed over by adopt.
  NetworkAgentData(uint32_t length, PacketKind kind);
  // Takes over the buffer holding the packet's bytes.
  void adopt(PacketBuffer&& buffer) { buffer_ = std::move(buffer); }

  uint32_t length() const { return length_; }
  const uint8_t* bytes() const { return buffer_.data(); }
  PacketKind kind() const { return kind_; }

 private:
  uint32_t length_;
  PacketKind kind_;
  PacketBuffer buffer_;
};
