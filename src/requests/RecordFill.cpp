#include "requests/RecordFill.h"

#include <climits>
#include <cstring>

#include "base/ModifiedUtf8.h"
#include "config/WallClock.h"
#include "threads/TextLimits.h"

void stampWallClock(EventRecord* record) {
  readWallClock(&record->wallSeconds, &record->wallMicros);
}

size_t copyText(OwnedText& field, const char* text) {
  if (!text) text = "";
  size_t length = std::strlen(text);
  field.assign(text, length);
  return field.length();
}

size_t cutTextLength(const char* text, int limit) {
  return cutTextLength(text, std::strlen(text), limit);
}

size_t cutTextLength(const char* text, size_t length, int limit) {
  // A cut inside a character goes back to the character's start.
  return wholeCharacterLength(text, length, keptBytes(length, limit) - 1);
}

size_t copyCutText(OwnedText& field, const char* text, int limit) {
  if (!text) {
    field.assign("", 0);
    return 0;
  }
  size_t length = cutTextLength(text, limit);
  field.assign(text, length);
  return length + 1;
}

void accountTexts(EventRecord* record, size_t objectBytes,
                  std::initializer_list<const OwnedText*> texts) {
  size_t bytes = RecordArena::ownFootprint(objectBytes);
  for (const OwnedText* text : texts) bytes += text->footprint();
  record->accountedSize = bytes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(bytes);
}

int16_t nominalSizeOf(size_t bytes) {
  return bytes > 32767 ? static_cast<int16_t>(32767) : static_cast<int16_t>(bytes);
}
