// Shared checks of the decoder tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Record.h"
#include "StreamDecoder.h"

// The text contains the part; the failure shows the whole text.
#define EXPECT_CONTAINS(text, part)                          \
  EXPECT_NE(std::string(text).find(part), std::string::npos) \
      << "expected to find \"" << (part) << "\" in: " << (text)

namespace psdump_test {

// A field's value as text: numbers in decimal, texts as sent, raw bytes in
// hex, lists as "[n]" with their element count.
inline std::string show(const psdump::Field& f) {
  static const char kDigits[] = "0123456789abcdef";
  switch (f.kind) {
    case psdump::Field::Kind::Unsigned:
      return std::to_string(f.u);
    case psdump::Field::Kind::Signed:
      return std::to_string(f.i);
    case psdump::Field::Kind::Text:
      return f.bytes;
    case psdump::Field::Kind::Bytes: {
      std::string out;
      for (char c : f.bytes) {
        out += kDigits[static_cast<unsigned char>(c) >> 4];
        out += kDigits[static_cast<unsigned char>(c) & 0x0F];
      }
      return out;
    }
    case psdump::Field::Kind::List:
      return "[" + std::to_string(f.items.size()) + "]";
  }
  return "?";
}

// Decodes whole and one byte at a time; both must agree.
inline psdump::DecodeResult decodeBoth(const std::vector<uint8_t>& bytes) {
  psdump::DecodeResult whole = psdump::decodeAll(bytes);
  psdump::DecodeResult bytewise = psdump::decodeAll(bytes, 1);
  EXPECT_EQ(whole.ok, bytewise.ok);
  EXPECT_EQ(whole.records.size(), bytewise.records.size());
  EXPECT_EQ(whole.error.offset, bytewise.error.offset);
  EXPECT_EQ(whole.error.message, bytewise.error.message);
  return whole;
}

}  // namespace psdump_test
