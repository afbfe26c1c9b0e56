// Fuzz target of the collector-side decoder: any byte stream must decode to
// records or a clean error, the same whether it arrives at once or in
// pieces and with or without its fields kept, every record must print as
// one line of JSON, and the request view must pair whatever arrives and
// keep every wire text out of the markup.
#include <cstddef>
#include <cstdint>

#include "Json.h"
#include "RequestView.h"
#include "StreamDecoder.h"
#include "Summary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  psdump::DecoderLimits limits;
  limits.maxRecordBytes = 1u << 16;
  const psdump::DecodeResult whole = psdump::decodeAll(data, size, 0, limits);
  const size_t chunk = size > 0 ? 1 + data[size - 1] % 7 : 1;
  const psdump::DecodeResult split = psdump::decodeAll(data, size, chunk, limits);
  if (whole.ok != split.ok || whole.records.size() != split.records.size()) __builtin_trap();
  if (!whole.ok && (whole.error.offset != split.error.offset || whole.error.offset > size ||
                    whole.error.message != split.error.message)) {
    __builtin_trap();
  }
  // Counting alone (no fields kept) reads the same records to the same end.
  const psdump::DecodeResult counted = psdump::decodeAll(data, size, 0, limits, false);
  if (counted.ok != whole.ok || counted.records.size() != whole.records.size() ||
      counted.error.offset != whole.error.offset || counted.error.message != whole.error.message) {
    __builtin_trap();
  }
  for (size_t i = 0; i < counted.records.size(); ++i) {
    if (counted.records[i].length != whole.records[i].length ||
        counted.records[i].thread != whole.records[i].thread) {
      __builtin_trap();
    }
  }
  psdump::Summary summary;
  psdump::RequestView view(true);
  psdump::DecodeResult pairs = whole;  // the view may move texts out of its records
  for (psdump::Record& r : pairs.records) view.add(1 + r.packet % 2, r);
  view.connectionClosed(1);
  view.connectionClosed(2);
  (void)view.finish();
  const std::string html = view.html();
  if (html.find("<script") != std::string::npos) __builtin_trap();  // wire texts stay text
  for (const psdump::Record& r : whole.records) {
    if (r.offset + r.length > size) __builtin_trap();
    const std::string line = psdump::recordToJson(r, 1);
    for (char c : line) {
      if (static_cast<unsigned char>(c) < 0x20) __builtin_trap();  // a line must stay one line
    }
    summary.add(r);
  }
  (void)summary.toJson();
  return 0;
}
