#include "StreamDecoder.h"

#include <cstdio>
#include <string>
#include <utility>

namespace psdump {

namespace {

std::string hexByte(unsigned b) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%02X", b & 0xFFu);
  return buf;
}

std::string at(uint64_t offset) {
  return "byte offset " + std::to_string(offset);
}

}  // namespace

StreamDecoder::StreamDecoder(ByteSource& source, DecoderLimits limits, bool keepFields)
    : reader_(source), limits_(limits), keepFields_(keepFields) {}

StreamDecoder::Result StreamDecoder::fail(uint64_t offset, std::string message) {
  reader_.fail(offset, std::move(message));
  state_ = State::Failed;
  return Result::Error;
}

StreamDecoder::Result StreamDecoder::next(Record& out) {
  // Reset member by member: the field list keeps its fields and their text
  // storage from record to record.
  out.offset = 0;
  out.length = 0;
  out.packet = 0;
  out.packetKind = PacketKind::Data;
  out.index = 0;
  out.tag = 0;
  out.name = "";
  out.type = -1;
  out.subtype = -1;
  out.hasThread = false;
  out.thread = 0;
  out.fields.clear();
  Result result = Result::Error;
  switch (state_) {
    case State::PacketStart:
      result = startPacket(out);
      break;
    case State::Identity:
      result = readIdentity(out);
      break;
    case State::InPacket:
      result = readDataRecord(out);
      break;
    case State::Done:
      result = Result::End;
      break;
    case State::Failed:
      break;
  }
  return result;
}

void StreamDecoder::keepBytes(FieldList& out, const char* name, Field::Kind kind,
                              size_t length) {
  Field& f = slot(out);
  f.name = name;
  f.kind = kind;
  f.u = 0;
  f.i = 0;
  reader_.bytesInto(f.bytes, length);
}

StreamDecoder::Result StreamDecoder::finish(Record& out, uint64_t start) {
  if (!reader_.ok()) {
    state_ = State::Failed;
    return Result::Error;
  }
  out.offset = start;
  out.length = reader_.offset() - start;
  out.packet = packet_;
  return Result::Record;
}

// A packet is told by its first 7 bytes: a data packet head is 00, a u32
// count and the end marker; a hello packet begins 00 00 07 D0 followed by
// the time record, whose bytes 5 and 6 are never 7F 7F.
StreamDecoder::Result StreamDecoder::startPacket(Record& out) {
  const uint64_t start = reader_.offset();
  if (!reader_.fill(7)) {
    size_t got = reader_.available();
    if (got == 0) {
      state_ = State::Done;
      return Result::End;
    }
    return fail(start + got, "stream ended at " + at(start + got) + " after " +
                                 std::to_string(got) + " of the first 7 bytes of a packet at " +
                                 at(start));
  }
  const uint8_t* p = reader_.peek();
  const bool dataHead = p[0] == kCountTag && p[5] == 0x7F && p[6] == 0x7F;
  const bool hello = p[0] == 0x00 && p[1] == 0x00 && p[2] == 0x07 && p[3] == 0xD0;
  ++packet_;
  packetStart_ = start;
  if (dataHead) {
    reader_.setContext("the data packet head", -1, start);
    reader_.skip(1);
    packetCount_ = reader_.u32();
    reader_.skip(2);
    packetIndex_ = 0;
    out.packetKind = PacketKind::Data;
    out.index = 0;
    out.tag = kCountTag;
    out.name = "count";
    putUnsigned(out.fields, "count", packetCount_);
    state_ = packetCount_ > 0 ? State::InPacket : State::PacketStart;
    return finish(out, start);
  }
  if (hello) return readTime(start, out);
  if (p[0] != 0) {
    return fail(start, "byte 0x" + hexByte(p[0]) + " at " + at(start) +
                           " cannot begin a packet: a data packet begins with tag 00, a hello "
                           "packet with 00 00 07 D0");
  }
  return fail(start + 5, "packet at " + at(start) +
                             " is neither a hello packet (00 00 07 D0) nor a data packet: "
                             "expected the end marker 7F 7F of its head at " +
                             at(start + 5) + ", found " + hexByte(p[5]) + " " + hexByte(p[6]));
}

StreamDecoder::Result StreamDecoder::readTime(uint64_t packetStart, Record& out) {
  reader_.setContext("the hello packet", -1, packetStart);
  reader_.skip(4);  // the constant 2000, already checked
  const uint64_t start = reader_.offset();
  const uint8_t tag = reader_.u8();
  if (reader_.ok() && tag != kTimeTag) {
    return fail(start, "hello packet at " + at(packetStart) + ": expected the time record tag " +
                           std::to_string(kTimeTag) + " at " + at(start) + ", found " +
                           std::to_string(tag));
  }
  out.packetKind = PacketKind::Hello;
  out.index = 0;
  out.tag = kTimeTag;
  out.name = "time";
  putUnsigned(out.fields, "platform", reader_.u8());
  putUnsigned(out.fields, "timeKind", reader_.u8());
  putUnsigned(out.fields, "millis", reader_.u64());
  readEnd(out);
  state_ = State::Identity;
  return finish(out, start);
}

StreamDecoder::Result StreamDecoder::readIdentity(Record& out) {
  const uint64_t start = reader_.offset();
  reader_.setContext("the identity record of the hello packet", -1, start);
  const uint8_t tag = reader_.u8();
  if (reader_.ok() && tag != kIdentityTag) {
    return fail(start, "hello packet at " + at(packetStart_) +
                           ": expected the identity record tag " + std::to_string(kIdentityTag) +
                           " at " + at(start) + ", found " + std::to_string(tag));
  }
  out.packetKind = PacketKind::Hello;
  out.index = 1;
  out.tag = kIdentityTag;
  out.name = "identity";
  putUnsigned(out.fields, "code", reader_.u8());
  putUnsigned(out.fields, "versionMajor", reader_.u8());
  putUnsigned(out.fields, "versionMinor", reader_.u8());
  putUnsigned(out.fields, "versionMicro", reader_.u8());
  for (const char* name : {"commandAgentId", "clusterName", "nodeName", "appServerName"}) {
    uint16_t len = reader_.u16();
    putBytes(out.fields, name, Field::Kind::Text, len);
  }
  putUnsigned(out.fields, "adminServerPort", reader_.u32());
  readEnd(out);
  state_ = State::PacketStart;
  return finish(out, start);
}

StreamDecoder::Result StreamDecoder::readDataRecord(Record& out) {
  const uint64_t start = reader_.offset();
  auto where = [this] {
    return "record " + std::to_string(packetIndex_ + 1) + " of " + std::to_string(packetCount_) +
           " of packet " + std::to_string(packet_) + " at " + at(packetStart_);
  };
  if (reader_.available() == 0 && !reader_.fill(1)) {
    return fail(start, "stream ended at " + at(start) + " before " + where() + " (only " +
                           std::to_string(packetIndex_) + " of " + std::to_string(packetCount_) +
                           " records arrived)");
  }
  const uint8_t tag = reader_.u8();
  const Layout* layout = (*byTag_)[tag];
  if (layout == nullptr) {
    std::string msg = "unknown record tag " + std::to_string(tag) + " (0x" + hexByte(tag) +
                      ") at " + at(start) + ", " + where();
    if (tag == kCountTag) {
      msg +=
          "; tag 0 begins only a data packet, so either the packet announced more records "
          "than it holds or a record without a layout was sent";
    } else if (tag == kTimeTag || tag == kIdentityTag) {
      msg += "; hello records travel only in a hello packet";
    }
    return fail(start, std::move(msg));
  }
  reader_.setContext(layout->name, tag, start);
  out.packetKind = PacketKind::Data;
  out.index = packetIndex_ + 1;
  out.tag = tag;
  out.name = layout->name;
  out.type = layout->type;
  out.subtype = layout->subtype;
  if (keepFields_ || layout->skip.empty()) {
    readFields(*layout, 0, start, out);
  } else {
    skipFields(*layout, start, out);
  }
  if (layout->jmsKind != 0) putUnsigned(out.fields, "kind", layout->jmsKind);
  if (layout->operations != nullptr && keepFields_) {
    Field& f = slot(out.fields);
    f.name = "operations";
    f.kind = Field::Kind::Text;
    f.u = 0;
    f.i = 0;
    f.bytes.assign(layout->operations);
  }
  readEnd(out);
  if (++packetIndex_ == packetCount_) state_ = State::PacketStart;
  return finish(out, start);
}

void StreamDecoder::skipFields(const Layout& layout, uint64_t start, Record& r) {
  for (const SkipStep& step : layout.skip) {
    // Where the buffer runs short the fields are read one by one: they
    // fetch more bytes, or fail with the message naming the field.
    const size_t head = step.fixed + (step.text ? 2 : 0);
    if (reader_.available() < head) return readFields(layout, step.firstField, start, r);
    const uint8_t* p = reader_.peek();
    if (step.firstField == 0 && layout.threadFirst) {
      r.hasThread = true;
      r.thread = be32(p);
    }
    const size_t text = step.text ? (size_t{p[step.fixed]} << 8 | p[step.fixed + 1]) : 0;
    if (reader_.available() < head + text) return readFields(layout, step.firstField, start, r);
    reader_.advance(head + text);
  }
}

void StreamDecoder::readFields(const Layout& layout, size_t first, uint64_t start, Record& r) {
  FieldList& out = r.fields;
  for (size_t i = first; i < layout.fields.size(); ++i) {
    const FieldSpec& spec = layout.fields[i];
    switch (spec.op) {
      case Op::U8:
      case Op::Mod:
        putUnsigned(out, spec.name, reader_.u8());
        break;
      case Op::U32: {
        const uint32_t value = reader_.u32();
        if (spec.name == kThreadIdField) {
          r.hasThread = true;
          r.thread = value;
        }
        putUnsigned(out, spec.name, value);
        break;
      }
      case Op::I32:
        putSigned(out, spec.name, static_cast<int32_t>(reader_.u32()));
        break;
      case Op::I64:
        putSigned(out, spec.name, static_cast<int64_t>(reader_.u64()));
        break;
      case Op::Text: {
        uint16_t len = reader_.u16();
        putBytes(out, spec.name, Field::Kind::Text, len);
        break;
      }
      case Op::Blob: {
        uint16_t len = reader_.u16();
        putBytes(out, spec.name, Field::Kind::Bytes, len);
        break;
      }
      case Op::Token: {
        const uint64_t lenAt = reader_.offset();
        uint16_t len = reader_.u16();
        if (reader_.ok() && len != 4) {
          reader_.fail(lenAt, "correlation token length " + std::to_string(len) + " at " +
                                  at(lenAt) + " in record '" + layout.name + "' at " + at(start) +
                                  ", expected 4");
        }
        putBytes(out, spec.name, Field::Kind::Bytes, 4);
        break;
      }
      case Op::Head: {
        // threadId u32, depth u8, wallSeconds u32, wallMicros u32, cpuTime u64
        const uint8_t* p = reader_.take(21);
        if (p == nullptr) return;
        r.hasThread = true;
        r.thread = be32(p);
        putUnsigned(out, kThreadIdField, r.thread);
        putUnsigned(out, "depth", p[4]);
        putUnsigned(out, "wallSeconds", be32(p + 5));
        putUnsigned(out, "wallMicros", be32(p + 9));
        putSigned(out, "cpuTime", static_cast<int64_t>(be64(p + 13)));
        break;
      }
      case Op::ClassMethods:
      case Op::UnloadMethods:
      case Op::MqiElements:
        readList(spec.op, spec.name, start, out);
        break;
    }
    if (!reader_.ok()) return;
  }
}

void StreamDecoder::readList(Op op, const char* name, uint64_t start, FieldList& out) {
  const uint64_t countAt = reader_.offset();
  const uint32_t count = reader_.u32();
  if (!reader_.ok()) return;
  if (op == Op::MqiElements) {
    // The element count is a signed 32-bit value in the record.
    if (count > 0x7FFFFFFFu) {
      reader_.fail(countAt, "negative element count " +
                                std::to_string(static_cast<int32_t>(count)) + " at " + at(countAt) +
                                " in record 'mqi' at " + at(start));
      return;
    }
    putUnsigned(out, "elementCount", count);
  } else {
    putUnsigned(out, "methodCount", count);
  }
  Field list;
  list.name = name;
  list.kind = Field::Kind::List;
  for (uint32_t n = 0; n < count && reader_.ok(); ++n) {
    if (reader_.offset() - start > limits_.maxRecordBytes) {
      reader_.fail(reader_.offset(),
                   "record at " + at(start) + " exceeds " + std::to_string(limits_.maxRecordBytes) +
                       " bytes at " + at(reader_.offset()) + " (element " + std::to_string(n) +
                       " of " + std::to_string(count) + " announced at " + at(countAt) + ")");
      return;
    }
    if (!keepFields_) {
      // The same reads, in the same steps (so that a cut stream fails with
      // the same message), without keeping what they read.
      if (op == Op::ClassMethods) {
        reader_.skip(4);
        reader_.skip(reader_.u16());
        reader_.skip(reader_.u16());
      } else if (op == Op::UnloadMethods) {
        reader_.skip(4);
      } else {
        reader_.skip(1);
        reader_.skip(4);  // a u64 is read as two u32
        reader_.skip(4);
        reader_.skip(4);
      }
      continue;
    }
    std::vector<Field> item;
    if (op == Op::ClassMethods) {
      item.push_back(Field::makeUnsigned("methodId", reader_.u32()));
      uint16_t len = reader_.u16();
      item.push_back(Field::makeText("name", reader_.bytes(len)));
      len = reader_.u16();
      item.push_back(Field::makeText("signature", reader_.bytes(len)));
    } else if (op == Op::UnloadMethods) {
      item.push_back(Field::makeUnsigned("", reader_.u32()));
    } else {
      item.push_back(Field::makeUnsigned("op", reader_.u8()));
      item.push_back(Field::makeUnsigned("number", reader_.u32()));
      item.push_back(Field::makeSigned("time", static_cast<int64_t>(reader_.u64())));
    }
    list.items.push_back(std::move(item));
  }
  if (keepFields_) slot(out) = std::move(list);
}

void StreamDecoder::badEnd(const Record& r, uint64_t endAt, uint16_t marker) {
  reader_.fail(endAt, "expected the end marker 7F 7F at " + at(endAt) + " to close record '" +
                          r.name + "' (tag " + std::to_string(r.tag) + "), found " +
                          hexByte(marker >> 8) + " " + hexByte(marker));
}

DecodeResult decodeAll(const uint8_t* data, size_t size, size_t chunk, DecoderLimits limits,
                       bool keepFields) {
  DecodeResult result;
  MemorySource source(data, size, chunk);
  StreamDecoder decoder(source, limits, keepFields);
  for (;;) {
    Record r;
    StreamDecoder::Result step = decoder.next(r);
    if (step == StreamDecoder::Result::Record) {
      result.records.push_back(std::move(r));
      continue;
    }
    if (step == StreamDecoder::Result::Error) {
      result.ok = false;
      result.error = decoder.error();
    }
    return result;
  }
}

DecodeResult decodeAll(const std::vector<uint8_t>& bytes, size_t chunk) {
  return decodeAll(bytes.data(), bytes.size(), chunk);
}

}  // namespace psdump
