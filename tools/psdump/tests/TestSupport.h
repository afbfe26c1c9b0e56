// Shared checks of the decoder tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "StreamDecoder.h"

// The text contains the part; the failure shows the whole text.
#define EXPECT_CONTAINS(text, part)                          \
  EXPECT_NE(std::string(text).find(part), std::string::npos) \
      << "expected to find \"" << (part) << "\" in: " << (text)

namespace psdump_test {

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
