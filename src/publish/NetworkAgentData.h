// One packet waiting in a network agent's queue: a private copy of the bytes
// an event agent handed over, so that the event agent can reuse its buffer at
// once.
#pragma once

#include <cstdint>
#include <memory>

#include "base/NamedObject.h"

class NetworkAgentData : public NamedObject {
 public:
  // Copies the packet; when the copy cannot be allocated, bytes() is null.
  NetworkAgentData(const uint8_t* bytes, uint32_t length);

  uint32_t length() const { return length_; }
  const uint8_t* bytes() const { return bytes_.get(); }

 private:
  uint32_t length_;
  std::unique_ptr<uint8_t[]> bytes_;
};
