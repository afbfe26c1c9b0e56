// Malformed and cut streams: every fault ends decoding with an error that
// names the byte offset at fault, never a crash or a read past the input.
#include <gtest/gtest.h>

#include <string>

#include "StreamDecoder.h"
#include "TestSupport.h"
#include "Wire.h"

using psdump::DecodeResult;
using psdump_test::decodeBoth;
using psdump_test::hex;
using psdump_test::kMethodEntry27;
using psdump_test::Wire;

namespace {

Wire helloPacket(size_t at = 0, uint8_t changed = 0) {
  Wire w;
  w.raw(hex("00 00 07 D0 64 01 01 00 00 00 00 00 00 00 01 7F 7F 65 C8 06 00 02"));
  w.text("agent").text("<NO CLUSTER NAME>").text("node").text("srv").u32(1).end();
  if (at) w.b[at] = changed;
  return w;
}

TEST(DecoderErrors, EveryCutOfAStreamEndsCleanlyOrNamesTheCut) {
  Wire w = helloPacket();
  const size_t helloEnd = w.size();
  w.packet(2).raw(hex(kMethodEntry27));
  w.u8(4).head(1, 1, 2, 3, 4).u8(1).text("r").text("a").text("u").text("d").u8(2).end();
  const size_t total = w.size();
  for (size_t cut = 0; cut < total; ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    std::vector<uint8_t> prefix(w.b.begin(), w.b.begin() + static_cast<long>(cut));
    DecodeResult r = decodeBoth(prefix);
    if (cut == 0 || cut == helloEnd) {
      EXPECT_TRUE(r.ok) << r.error.message;
      continue;
    }
    ASSERT_FALSE(r.ok);
    EXPECT_EQ(r.error.offset, cut);
    EXPECT_CONTAINS(r.error.message, "byte offset " + std::to_string(cut));
  }
}

// Each fault names its byte offset and what was expected there.
TEST(DecoderErrors, FaultsNameTheirOffsetAndCause) {
  std::vector<uint8_t> badEnd = hex(kMethodEntry27);
  badEnd.back() = 0x7E;
  // An HTTP start without its detail: the MOD byte and the end marker are
  // read as the detail's length, so the fault shows.
  Wire noDetail;
  noDetail.packet(1).u8(4).head(1, 1, 2, 3, 4).u8(1).text("r").text("a").text("u").u8(2).end();
  noDetail.packet(1).raw(hex(kMethodEntry27));
  struct Case {
    Wire wire;
    long offset;  // -1: the end of the stream
    const char* first;
    const char* second;
  } cases[] = {
      {Wire().packet(1).u8(4).head(1, 1, 2, 3, 4).u8(1).u16(65535).raw({'x', 'y'}), -1,
       "inside record 'httpStart' (tag 4) that starts at byte offset 7", "65533 more bytes needed"},
      {Wire().packet(3).raw(hex(kMethodEntry27)), 34, "record 2 of 3 of packet 1 at byte offset 0",
       "only 1 of 3 records arrived"},
      {Wire().packet(2).raw(hex(kMethodEntry27)).packet(1).raw(hex(kMethodEntry27)), 34,
       "unknown record tag 0 (0x00) at byte offset 34", "announced more records than it holds"},
      {Wire().packet(1).raw(hex("64 01 01 00 00 00 00 00 00 00 01 7F 7F")), 7,
       "hello records travel only in a hello packet", ""},
      {Wire().packet(1).raw(badEnd), 32, "expected the end marker 7F 7F at byte offset 32",
       "record 'methodEntry' (tag 2), found 7F 7E"},
      {Wire().packet(1).u8(51).head(1, 0, 2, 3, 4).u16(5).raw({1, 2, 3, 4, 5}).u8(1).end(), 29,
       "correlation token length 5", ""},
      {Wire().packet(1).u8(41).text("a").text("b").u64(1).u32(0x80000000u).end(), 22,
       "negative element count -2147483648", ""},
      {Wire().raw(hex("41 00 00 00 00 7F 7F")), 0,
       "byte 0x41 at byte offset 0 cannot begin a packet", ""},
      {Wire().raw(hex("00 01 02 03 04 05 06 07")), 5, "found 05 06", ""},
      {Wire().packet(1).raw(hex(kMethodEntry27)).raw(hex("00 00 00 00")), 38,
       "after 4 of the first 7 bytes of a packet at byte offset 34", ""},
      {helloPacket(4, 99), 4, "expected the time record tag 100 at byte offset 4", ""},
      {helloPacket(17, 102), 17, "expected the identity record tag 101", ""},
      {noDetail, -1, "inside record 'httpStart' (tag 4) that starts at byte offset 7", ""},
  };
  for (const Case& c : cases) {
    DecodeResult r = decodeBoth(c.wire.b);
    ASSERT_FALSE(r.ok) << c.first;
    EXPECT_EQ(r.error.offset, c.offset < 0 ? c.wire.size() : size_t(c.offset)) << c.first;
    EXPECT_CONTAINS(r.error.message, c.first);
    EXPECT_CONTAINS(r.error.message, c.second);
  }
}

TEST(DecoderErrors, UnknownTagsAreRejectedAtTheirOffset) {
  for (unsigned tag : {15, 42, 49, 59, 60, 69, 99, 102, 116, 117, 126, 255}) {
    DecodeResult r =
        decodeBoth(Wire().packet(2).raw(hex(kMethodEntry27)).u8(tag).raw(hex(kMethodEntry27)).b);
    EXPECT_EQ(r.error.offset, 34u);
    EXPECT_CONTAINS(r.error.message, "unknown record tag " + std::to_string(tag) + " (0x");
  }
}

TEST(DecoderErrors, HugeMethodCountStopsAtTheRecordLimit) {
  // A class record announcing 4 billion methods, followed by plenty of
  // bytes: decoding stops once the record passes the limit.
  Wire w;
  w.packet(1).u8(12).u32(1).u32(2).u32(0xFFFFFFFFu);
  for (int i = 0; i < 4096; ++i) w.u32(static_cast<uint32_t>(i));
  psdump::DecoderLimits limits;
  limits.maxRecordBytes = 1024;
  DecodeResult r = psdump::decodeAll(w.b.data(), w.size(), 0, limits);
  ASSERT_FALSE(r.ok);
  EXPECT_CONTAINS(r.error.message, "exceeds 1024 bytes");
  EXPECT_CONTAINS(r.error.message, "announced at byte offset 16");
  EXPECT_LE(r.error.offset, 7u + 1024u + 8u);
}

TEST(DecoderErrors, ErrorsStickAndRecordsBeforeThemAreKept) {
  const Wire w = Wire().packet(2).raw(hex(kMethodEntry27)).u8(200);
  psdump::MemorySource source(w.b);
  psdump::StreamDecoder decoder(source);
  psdump::Record r;
  using Result = psdump::StreamDecoder::Result;
  for (Result expected : {Result::Record, Result::Record, Result::Error, Result::Error})
    EXPECT_EQ(decoder.next(r), expected);
  EXPECT_CONTAINS(decoder.error().message, "unknown record tag 200");
  EXPECT_EQ(decoder.error().offset, 34u);
}

}  // namespace
