// Hand-made collector byte streams for the tests: a small big-endian writer
// and a hex parser, kept apart from the decoder's own tables.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace psdump_test {

struct Wire {
  std::vector<uint8_t> b;

  Wire& u8(unsigned v) {
    b.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  Wire& u16(unsigned v) { return u8(v >> 8).u8(v); }
  Wire& u32(uint32_t v) { return u16(v >> 16).u16(v & 0xFFFF); }
  Wire& u64(uint64_t v) {
    return u32(static_cast<uint32_t>(v >> 32)).u32(static_cast<uint32_t>(v));
  }
  Wire& text(const std::string& s) {
    u16(static_cast<unsigned>(s.size()));
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  Wire& raw(const std::vector<uint8_t>& bytes) {
    b.insert(b.end(), bytes.begin(), bytes.end());
    return *this;
  }
  Wire& end() { return u16(0x7F7F); }
  // threadId, depth, wallSeconds, wallMicros, cpuTime.
  Wire& head(uint32_t tid, unsigned depth, uint32_t s, uint32_t us, uint64_t cpu) {
    return u32(tid).u8(depth).u32(s).u32(us).u64(cpu);
  }
  // The 7-byte head of a data packet.
  Wire& packet(uint32_t count) { return u8(0).u32(count).end(); }
  size_t size() const { return b.size(); }
};

// "02 00 0a" -> {0x02, 0x00, 0x0a}: bytes as hex digit pairs between spaces.
inline std::vector<uint8_t> hex(const std::string& text) {
  std::vector<uint8_t> out;
  std::istringstream in(text);
  for (std::string byte; in >> byte;)
    out.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
  return out;
}

// A method entry record: thread 1, method 5, 1 s + 2 ms, CPU time 3; 27 bytes.
const char kMethodEntry27[] =
    "02 00 00 00 01 00 00 00 05 00 00 00 01 00 00 07 D0 00 00 00 00 00 00 00 03 7F 7F";

}  // namespace psdump_test
