// Hand-made request records in one data packet, for the request-view
// tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Wire.h"

namespace psdump_test {

// Records of one data packet; times in milliseconds from a fixed second.
class Stream {
 public:
  Wire& rec(int tag) {
    ++count_;
    return body_.u8(static_cast<unsigned>(tag));
  }
  Stream& head(int tag, uint32_t tid, unsigned depth, uint32_t ms, uint64_t cpuMicros) {
    rec(tag).head(tid, depth, 1000 + ms / 1000, (ms % 1000) * 1000, cpuMicros * 1000);
    return *this;
  }
  Stream& httpStart(uint32_t tid, unsigned depth, uint32_t ms, uint64_t cpu, const std::string& url,
                    const std::string& app = "App") {
    return head(4, tid, depth, ms, cpu)
        .add(Wire().u8(1).text("GET " + url).text(app).text(url).text("").u8(2));
  }
  Stream& ejbBegin(uint32_t tid, unsigned depth, uint32_t ms, uint64_t cpu, const std::string& n) {
    return head(6, tid, depth, ms, cpu).add(Wire().u8(1).text(n).text("App").text("ejb/x").u8(2));
  }
  Stream& sqlBegin(uint32_t tid, unsigned depth, uint32_t ms, uint64_t cpu,
                   const std::string& sql) {
    return head(9, tid, depth, ms, cpu).add(Wire().u8(2).text("jdbc/ds").text(sql));
  }
  // An end record that is only a head: HTTP finish 5, error 50, EJB 7,
  // SQL 10, receive completion 54.
  Stream& end(int tag, uint32_t tid, unsigned depth, uint32_t ms, uint64_t cpu) {
    return head(tag, tid, depth, ms, cpu).add(Wire().u8(2));
  }
  Stream& receiveStart(uint32_t tid, uint32_t ms, uint64_t cpu) {
    return head(53, tid, 0, ms, cpu).add(Wire().u16(4).raw({0xA0, 0, 0, 5}).u8(2));
  }
  Stream& method(bool entry, uint32_t tid, uint32_t id, uint32_t ms) {
    rec(entry ? 2 : 3).u32(tid).u32(id).u32(1000).u32(ms * 1000).u64(0).end();
    return *this;
  }
  Stream& drop(uint32_t tid, int32_t methodEntries) {
    rec(11).u32(tid).u32(0).u32(0).u32(static_cast<uint32_t>(methodEntries)).u32(0).u32(0).u32(0);
    body_.end();
    return *this;
  }
  Stream& exception(const std::string& text) {
    rec(45).text(text).text("").text("").text("").end();
    return *this;
  }

  // The rest of the current record, then its end marker.
  Stream& add(const Wire& rest) {
    body_.raw(rest.b).end();
    return *this;
  }

  std::vector<uint8_t> bytes() const {
    Wire w;
    w.packet(count_).raw(body_.b);
    return w.b;
  }

 private:
  Wire body_;
  uint32_t count_ = 0;
};

}  // namespace psdump_test
