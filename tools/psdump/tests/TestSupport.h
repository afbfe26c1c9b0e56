// Shared checks of the decoder tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "StreamDecoder.h"

// The text contains the part; the failure shows the whole text.
#define EXPECT_CONTAINS(text, part)                          \
  EXPECT_NE(std::string(text).find(part), std::string::npos) \
      << "expected to find \"" << (part) << "\" in: " << (text)

namespace psdump_test {

// Decodes whole, one byte at a time, and keeping no fields (as psdump
// counts) whole and one byte at a time; all must agree, and the thread id a
// counted record carries must be the one its fields name.
inline psdump::DecodeResult decodeBoth(const std::vector<uint8_t>& bytes) {
  psdump::DecodeResult whole = psdump::decodeAll(bytes);
  for (auto [chunk, keepFields] : {std::pair{1, true}, std::pair{0, false}, std::pair{1, false}}) {
    const psdump::DecodeResult bytewise = psdump::decodeAll(
        bytes.data(), bytes.size(), static_cast<size_t>(chunk), psdump::DecoderLimits(), keepFields);
    EXPECT_EQ(whole.ok, bytewise.ok);
    EXPECT_EQ(whole.error.offset, bytewise.error.offset);
    EXPECT_EQ(whole.error.message, bytewise.error.message);
    EXPECT_EQ(whole.records.size(), bytewise.records.size());
    for (size_t i = 0; i < whole.records.size() && i < bytewise.records.size(); ++i) {
      const psdump::Record& a = whole.records[i];
      const psdump::Record& b = bytewise.records[i];
      EXPECT_EQ(a.offset, b.offset) << a.name;
      EXPECT_EQ(a.length, b.length) << a.name;
      EXPECT_EQ(a.tag, b.tag) << a.name;
      EXPECT_EQ(b.fields.empty(), !keepFields) << a.name;
      const psdump::Field* thread = a.find(psdump::kThreadIdField);
      EXPECT_EQ(b.hasThread, thread != nullptr) << a.name;
      EXPECT_EQ(b.thread, thread != nullptr ? thread->u : 0) << a.name;
    }
  }
  return whole;
}

}  // namespace psdump_test
