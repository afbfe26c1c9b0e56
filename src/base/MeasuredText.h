// A text and its length in bytes, measured once: by the JVM for a Java
// string (JavaChars), or here for a C string. Null chars mean no text.
#pragma once

#include <cstddef>
#include <cstring>

struct MeasuredText {
  // A C string, measured now; null stays null.
  MeasuredText(const char* text = nullptr) : chars(text), length(text ? std::strlen(text) : 0) {}
  MeasuredText(const char* text, size_t bytes) : chars(text), length(text ? bytes : 0) {}

  const char* chars;
  size_t length;
};
