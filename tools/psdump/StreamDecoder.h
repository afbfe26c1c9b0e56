// Decodes the byte stream of one collector connection: a sequence of
// packets, each either a hello packet (the constant 2000, a time record and
// an identity record) or a data packet (a count record, then that many
// records back to back). Every read is checked against the end of the
// stream; the first fault ends decoding with an error that names its byte
// offset.
#pragma once

#include <cstdint>
#include <vector>

#include "ByteReader.h"
#include "ByteSource.h"
#include "Layouts.h"
#include "Record.h"

namespace psdump {

struct DecoderLimits {
  // The largest record accepted. The agent's packets stay below a few MiB;
  // anything far beyond that is garbage and would only exhaust memory.
  uint64_t maxRecordBytes = 8u << 20;
};

class StreamDecoder {
 public:
  enum class Result {
    Record,  // out holds the next record
    End,     // the stream ended cleanly between packets
    Error,   // malformed or cut input; see error()
  };

  // keepFields false: records come without their fields (only what Record
  // holds besides them, the thread id included), for a reader that only
  // counts; every byte is still read and checked the same way.
  explicit StreamDecoder(ByteSource& source, DecoderLimits limits = DecoderLimits(),
                         bool keepFields = true);

  Result next(Record& out);

  const DecodeError& error() const { return reader_.error(); }
  // Bytes consumed so far.
  uint64_t offset() const { return reader_.offset(); }
  // Packets begun so far.
  uint64_t packets() const { return packet_; }

 private:
  enum class State { PacketStart, Identity, InPacket, Done, Failed };

  Result startPacket(Record& out);
  Result readTime(uint64_t packetStart, Record& out);
  Result readIdentity(Record& out);
  Result readDataRecord(Record& out);
  // The layout's fields from fields[first] on.
  void readFields(const Layout& layout, size_t first, uint64_t start, Record& out);
  // The same for a reader that keeps no fields: the runs of the layout
  // passed over while the buffer holds them, field by field otherwise.
  void skipFields(const Layout& layout, uint64_t start, Record& out);
  void readList(Op op, const char* name, uint64_t start, FieldList& out);
  void readEnd(const Record& r) {
    const uint64_t endAt = reader_.offset();
    const uint16_t marker = reader_.u16();
    if (reader_.ok() && marker != kEndMarker) badEnd(r, endAt, marker);
  }
  void badEnd(const Record& r, uint64_t endAt, uint16_t marker);
  Result finish(Record& out, uint64_t start);
  Result fail(uint64_t offset, std::string message);
  // The next field of the record being read: a field of an earlier record
  // reused (keeping its text storage) or a new one.
  Field& slot(FieldList& out) {
    Field& f = out.append();
    if (!f.items.empty()) f.items.clear();
    return f;
  }
  void putUnsigned(FieldList& out, const char* name, uint64_t value) {
    if (!keepFields_) return;
    Field& f = slot(out);
    f.name = name;
    f.kind = Field::Kind::Unsigned;
    f.u = value;
    f.i = 0;
    f.bytes.clear();
  }
  void putSigned(FieldList& out, const char* name, int64_t value) {
    if (!keepFields_) return;
    Field& f = slot(out);
    f.name = name;
    f.kind = Field::Kind::Signed;
    f.u = 0;
    f.i = value;
    f.bytes.clear();
  }
  // A text or raw field of length bytes, read from the stream.
  void putBytes(FieldList& out, const char* name, Field::Kind kind, size_t length) {
    if (keepFields_) {
      keepBytes(out, name, kind, length);
    } else {
      reader_.skip(length);
    }
  }
  void keepBytes(FieldList& out, const char* name, Field::Kind kind, size_t length);

  ByteReader reader_;
  DecoderLimits limits_;
  bool keepFields_;
  const std::array<const Layout*, 256>* byTag_ = &layoutsByTag();
  State state_ = State::PacketStart;
  uint64_t packet_ = 0;
  uint64_t packetStart_ = 0;
  uint32_t packetCount_ = 0;  // records the count record announced
  uint32_t packetIndex_ = 0;  // records of the packet read so far
};

// Decodes a whole buffer: every record up to the end or the first error.
struct DecodeResult {
  std::vector<Record> records;
  bool ok = true;
  DecodeError error;
};
DecodeResult decodeAll(const uint8_t* data, size_t size, size_t chunk = 0,
                       DecoderLimits limits = DecoderLimits(), bool keepFields = true);
DecodeResult decodeAll(const std::vector<uint8_t>& bytes, size_t chunk = 0);

}  // namespace psdump
