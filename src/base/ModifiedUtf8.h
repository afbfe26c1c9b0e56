// Cutting texts in the JVM's modified UTF-8 (1-, 2- and 3-byte characters;
// U+0000 is the two bytes C0 80) at a byte limit without splitting a
// character: a strict reader such as Java's readUTF rejects a text that ends
// inside one.
#pragma once

#include <cstddef>

// The number of leading bytes of `text` (`length` bytes) to keep under
// `limit`: `length` itself when it fits, else the limit moved back to the
// start of the character it would split. Bytes that do not form a character
// are cut like single bytes.
size_t wholeCharacterLength(const char* text, size_t length, size_t limit);
