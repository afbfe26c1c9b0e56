// One packet waiting in a network agent's queue: a private copy of the bytes
// an event agent handed over, so that the event agent can reuse its buffer at
// once.
#pragma once

#include <cstdint>
#include <memory>

#include "base/NamedObject.h"

// What a packet is to the connection: the hello packet and the packet of
// class records open a connection's stream (the master event agent sends them
// after every reconnection); everything else is data.
enum class PacketKind : uint8_t { Data, Hello, Classes };

class NetworkAgentData : public NamedObject {
 public:
  // Copies the packet; when the copy cannot be allocated, bytes() is null.
  NetworkAgentData(const uint8_t* bytes, uint32_t length, PacketKind kind = PacketKind::Data);

  uint32_t length() const { return length_; }
  const uint8_t* bytes() const { return bytes_.get(); }
  PacketKind kind() const { return kind_; }

 private:
  uint32_t length_;
  PacketKind kind_;
  std::unique_ptr<uint8_t[]> bytes_;
};
