// Class files for the instrumentation tests: a small builder, and a reader
// written apart from the library's so that rewritten classes are checked by
// other code than the code that wrote them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TestClass {
 public:
  // A class of version 48.0 named name (slash form), extending Object.
  TestClass(const std::string& name, uint16_t access);

  uint16_t utf8(const std::string& text);  // an equal Utf8 is shared
  uint16_t cls(const std::string& name);
  uint16_t methodref(const std::string& owner, const std::string& name, const std::string& type);
  uint16_t wide(uint8_t tag);  // a zero Long or Double (two slots)
  uint16_t raw(uint8_t tag, const std::vector<uint8_t>& body);
  void declareThrows();  // the "Exceptions" and java/lang/ClassFormatError entries
  void method(uint16_t access, const std::string& name, const std::string& type,
              const std::vector<uint8_t>& code);

  uint16_t count() const { return count_; }
  uint16_t lastMethodref() const { return lastMethodref_; }
  std::vector<uint8_t> bytes(uint16_t major = 48) const;

 private:
  std::vector<uint8_t> pool_, methods_;
  std::vector<std::string> texts_;
  uint16_t count_ = 1, methodCount_ = 0, access_, this_ = 0, super_ = 0, lastMethodref_ = 0;
};

struct ParsedMethod {
  uint16_t access = 0, maxStack = 0, maxLocals = 0;
  std::string name;
  std::vector<uint8_t> code;
  std::vector<std::string> exceptions;
};

struct ParsedClass {
  struct Entry {
    uint8_t tag = 0;
    uint16_t a = 0, b = 0;
    std::string text;
  };
  bool ok = false;  // the whole class read, to its last byte
  uint16_t poolCount = 0;
  std::vector<Entry> pool;
  std::vector<ParsedMethod> methods;

  // "owner.name" + descriptor of a Methodref; empty when index is not one.
  std::string methodrefText(uint16_t index) const;
  static ParsedClass parse(const std::vector<uint8_t>& bytes);
};
