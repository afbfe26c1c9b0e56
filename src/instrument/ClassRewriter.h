// Rewrites a class so that one of its methods is reached through a generated
// wrapper, "halprobe$" + the method's name, which first passes the class
// bytes it is given through BcmBootstrap.instrumentClassStatic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "instrument/ConstantPool.h"

// One configured target: which class, which method, and the local slots of
// the method that hold the class-definition arguments.
struct MethodSpec {
  enum Slot { LOADER, NAME, BYTES, OFFSET, LENGTH, SLOTS };
  std::string targetClass;  // slash form
  std::string ownerClass;   // slash form
  std::string methodName;
  std::string descriptor;
  uint16_t slots[SLOTS] = {};
};

// The generated method body. The exception table is always empty.
struct WrapperCode {
  uint16_t maxStack = 0;
  uint16_t maxLocals = 0;
  std::vector<uint8_t> code;
  uint16_t exceptionTableLength = 0;
};

// Builds the wrapper for a method with the given parameter type letters.
// bootstrapRef is the Methodref of instrumentClassStatic, wrappedRef the one
// of the wrapped method, invokeOpcode how the wrapped method is called.
// False when a letter or slot cannot be written.
bool generateWrapper(const MethodSpec& spec, const std::string& parameterLetters, bool isStatic,
                     uint8_t invokeOpcode, uint16_t bootstrapRef, uint16_t wrappedRef,
                     WrapperCode* out);

// Rewrites the class (whose pool is indexed in pool) for the spec. False,
// with out untouched, when the class has no "Code" entry, does not reference
// the method, does not declare it, or is malformed.
bool rewriteClass(const uint8_t* classBytes, size_t length, const ConstantPoolIndex& pool,
                  const MethodSpec& spec, std::vector<uint8_t>* out);
