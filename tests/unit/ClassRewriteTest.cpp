// The class-file reader and the rewrite, its classes read back apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "instrument/ClassRewriter.h"
#include "instrument/ClassWriter.h"
#include "instrument/ConstantPool.h"
#include "support/ClassBytes.h"
#include "support/TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

MethodSpec defineClassSpec(const std::string& target) {
  MethodSpec spec;
  spec.targetClass = spec.ownerClass = target;
  spec.methodName = "defineClass0";
  spec.descriptor = "(Ljava/lang/String;[BII)Ljava/lang/Class;";
  for (int i = 0; i < MethodSpec::SLOTS; i++) spec.slots[i] = static_cast<uint16_t>(i);
  return spec;
}

// A loader class whose load method calls its own defineClass0.
Bytes loaderClass(uint16_t classAccess, uint16_t methodAccess, TestClass* out = nullptr,
                  bool throws = true) {
  TestClass c("java/lang/ClassLoader", classAccess);
  if (throws) c.declareThrows();
  uint16_t ref = c.methodref("java/lang/ClassLoader", "defineClass0",
                             "(Ljava/lang/String;[BII)Ljava/lang/Class;");
  c.method(methodAccess, "defineClass0", "(Ljava/lang/String;[BII)Ljava/lang/Class;",
           {1, 176});  // aconst_null, areturn
  c.method(1, "load", "()V", {42, 1, 1, 3, 3, 183, uint8_t(ref >> 8), uint8_t(ref), 87, 177});
  if (out) *out = c;
  return c.bytes();
}

bool rewrite(const Bytes& in, const MethodSpec& spec, Bytes* out) {
  ConstantPoolIndex pool;
  return pool.build(in.data(), in.size()) && rewriteClass(in.data(), in.size(), pool, spec, out);
}

TEST(ClassPool, LongAndDoubleTakeTwoSlotsAndLaterIndexesStayAligned) {
  TestClass c("a/B", 0x21);
  uint16_t first = c.wide(CP_LONG);
  uint16_t second = c.wide(CP_DOUBLE);
  uint16_t after = c.utf8("after");
  Bytes bytes = c.bytes();
  ConstantPoolIndex pool;
  ASSERT_TRUE(pool.build(bytes.data(), bytes.size()));
  EXPECT_EQ(pool.entry(first)[0], CP_LONG);
  EXPECT_EQ(pool.entry(first + 1), nullptr);
  EXPECT_EQ(pool.entry(second)[0], CP_DOUBLE);
  EXPECT_EQ(pool.entry(second + 1), nullptr);
  const uint8_t* text = nullptr;
  uint16_t length = 0;
  ASSERT_TRUE(pool.utf8(after, &text, &length));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(text), length), "after");
  EXPECT_EQ(pool.entry(pool.count()), nullptr);
  EXPECT_EQ(pool.poolEnd() - bytes.data(),
            static_cast<long>(bytes.size()) - 14);  // the class after the pool
}

TEST(ClassPool, UnknownTagsAndALongInTheLastSlotAreRefused) {
  CapturedOutput output;
  ConstantPoolIndex pool;
  for (uint8_t tag : {0, 2, 13, 15, 18}) {
    TestClass c("a/B", 0x21);
    c.raw(tag, {0, 1, 0, 1});
    Bytes bytes = c.bytes();
    EXPECT_FALSE(pool.build(bytes.data(), bytes.size())) << int(tag);
  }
  output.finish();
  EXPECT_CONTAINS(output.out(), "Unknown constant pool tag 15 at index");
  // Counts and lengths past the end are met by every cut of a class below;
  // a Long in the last slot has no room for its second slot.
  Bytes lastLong = {0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 48, 0, 2, CP_LONG, 0, 0, 0, 0, 0, 0, 0, 1};
  EXPECT_FALSE(pool.build(lastLong.data(), lastLong.size()));
}

TEST(ClassRewrite, EveryCutOrCorruptedClassIsRefusedWithoutReadingOutside) {
  CapturedOutput quiet;
  Bytes good = loaderClass(0x21, 2);
  MethodSpec spec = defineClassSpec("java/lang/ClassLoader");
  Bytes out;
  ASSERT_TRUE(rewrite(good, spec, &out));
  for (size_t size = 0; size < good.size(); size++) {
    // Copied so that a read past the cut lands outside the allocation.
    Bytes cut(good.begin(), good.begin() + static_cast<long>(size));
    EXPECT_FALSE(rewrite(cut, spec, &out)) << size;
  }
  Bytes trailing = good;
  trailing.push_back(0);
  EXPECT_FALSE(rewrite(trailing, spec, &out));
  // Every index of a reference entry pointed past the pool in turn.
  ConstantPoolIndex pool;
  ASSERT_TRUE(pool.build(good.data(), good.size()));
  for (uint32_t index = 1; index < pool.count(); index++) {
    uint8_t tag = pool.entry(index)[0];
    if (tag == CP_UTF8) continue;
    Bytes bad = good;
    size_t at = static_cast<size_t>(pool.entry(index) - good.data()) + 1;
    bad[at] = 0xFF;
    EXPECT_FALSE(rewrite(bad, spec, &out)) << index;
  }
}

TEST(ClassRewrite, PrivateDefineClass0GetsTheWrapperAndItsCallSitesMove) {
  TestClass source("", 0);
  Bytes in = loaderClass(0x21, 2, &source);
  Bytes out;
  ASSERT_TRUE(rewrite(in, defineClassSpec("java/lang/ClassLoader"), &out));
  ParsedClass parsed = ParsedClass::parse(out);
  ASSERT_TRUE(parsed.ok);
  uint16_t n = source.count();
  EXPECT_EQ(parsed.poolCount, n + 10);
  // The call site now names this class and halprobe$defineClass0.
  EXPECT_EQ(parsed.methodrefText(source.lastMethodref()),
            "java/lang/ClassLoader.halprobe$defineClass0(Ljava/lang/String;[BII)Ljava/lang/Class;");
  EXPECT_EQ(parsed.methodrefText(n + 8),
            "com/halden/bcm/bootstrap/BcmBootstrap.instrumentClassStatic"
            "(Ljava/lang/ClassLoader;Ljava/lang/String;[BII)[B");
  EXPECT_EQ(parsed.methodrefText(n + 9),
            "java/lang/ClassLoader.defineClass0(Ljava/lang/String;[BII)Ljava/lang/Class;");
  ASSERT_EQ(parsed.methods.size(), 3u);
  const ParsedMethod& wrapper = parsed.methods[2];
  EXPECT_EQ(wrapper.name, "halprobe$defineClass0");
  EXPECT_EQ(wrapper.exceptions, (std::vector<std::string>{"java/lang/ClassFormatError"}));
  EXPECT_EQ(wrapper.maxStack, 5);
  uint8_t hi8 = uint8_t((n + 8) >> 8), lo8 = uint8_t(n + 8);
  uint8_t hi9 = uint8_t((n + 9) >> 8), lo9 = uint8_t(n + 9);
  EXPECT_EQ(wrapper.code,
            (Bytes{25, 0, 25, 1, 25,  2,  21, 3,  21, 4,   184, hi8, lo8,  // bootstrap
                   58, 5, 25, 5, 198, 0,  15,                              // null test
                   25, 5, 58, 2, 3,   54, 3,  25, 2,  190, 54,  4,         // new bytes
                   25, 0, 25, 1, 25,  2,  21, 3,  21, 4,   183, hi9, lo9, 176}));
  // Exactly the computed size: old + code + name + 192.
  EXPECT_EQ(out.size(), in.size() + wrapper.code.size() + 12 + 192);
}

TEST(ClassRewrite, CallKindFollowsStaticPrivateFinalAndClassFinal) {
  struct Case {
    uint16_t classAccess, methodAccess;
    uint8_t invoke;
    uint16_t wrapperAccess;
    bool throws;  // without the Exceptions entries the wrapper declares nothing
  };
  for (Case c : {Case{0x21, 0x0008, OP_INVOKESTATIC, 10, true},
                 Case{0x21, 0x0001, OP_INVOKEVIRTUAL, 2, true},
                 Case{0x21, 0x0011, OP_INVOKESPECIAL, 2, true},
                 Case{0x31, 0x0001, OP_INVOKESPECIAL, 2, true},
                 Case{0x21, 0x0002, OP_INVOKESPECIAL, 2, false}}) {
    Bytes in = loaderClass(c.classAccess, c.methodAccess, nullptr, c.throws), out;
    MethodSpec spec = defineClassSpec("java/lang/ClassLoader");
    if (c.invoke == OP_INVOKESTATIC) {
      // No receiver: the name (a String, so an object) doubles as the loader.
      const uint16_t slots[] = {0, 0, 1, 2, 3};
      std::copy(slots, slots + MethodSpec::SLOTS, spec.slots);
    }
    ASSERT_TRUE(rewrite(in, spec, &out));
    ParsedClass parsed = ParsedClass::parse(out);
    ASSERT_TRUE(parsed.ok);
    const ParsedMethod& wrapper = parsed.methods.back();
    EXPECT_EQ(wrapper.access, c.wrapperAccess);
    ASSERT_GE(wrapper.code.size(), 4u);
    EXPECT_EQ(wrapper.code[wrapper.code.size() - 4], c.invoke) << c.methodAccess;
    // A static method has no receiver: the parameters start at slot 0.
    EXPECT_EQ(wrapper.maxLocals, c.invoke == OP_INVOKESTATIC ? 5 : 6);
    EXPECT_EQ(wrapper.exceptions.size(), c.throws ? 1u : 0u);
    EXPECT_EQ(out.size(), in.size() + wrapper.code.size() + 12 + 192 - (c.throws ? 0 : 10));
  }
}

TEST(ClassRewrite, NothingToWrapLeavesTheClassAlone) {
  Bytes out;
  MethodSpec other = defineClassSpec("java/lang/ClassLoader");
  other.descriptor = "(Ljava/lang/String;[BIILjava/security/ProtectionDomain;)Ljava/lang/Class;";
  EXPECT_FALSE(rewrite(loaderClass(0x21, 2), other, &out));
  TestClass noCode("a/B", 0x21);
  noCode.methodref("a/B", "defineClass0", "(Ljava/lang/String;[BII)Ljava/lang/Class;");
  EXPECT_FALSE(rewrite(noCode.bytes(), defineClassSpec("a/B"), &out));
  // Referenced but declared elsewhere: the way to call it is unknown.
  TestClass elsewhere("a/B", 0x21);
  uint16_t ref =
      elsewhere.methodref("a/B", "defineClass0", "(Ljava/lang/String;[BII)Ljava/lang/Class;");
  elsewhere.method(1, "load", "()V", {182, uint8_t(ref >> 8), uint8_t(ref), 177});
  EXPECT_FALSE(rewrite(elsewhere.bytes(), defineClassSpec("a/B"), &out));
  EXPECT_TRUE(out.empty());
}

// The wrapper hands the slots to instrumentClassStatic and writes back into
// them: slots that are not parameters of the right types would make it
// invalid bytecode, so such a spec leaves the class alone, with a log line.
TEST(ClassRewrite, SlotsThatDoNotFitTheMethodLeaveTheClassAlone) {
  struct Case {
    uint16_t slots[MethodSpec::SLOTS];
    const char* complaint;
  };
  for (const Case& c :
       {Case{{0, 2, 1, 3, 4}, "0:2:1:3:4 does not fit the method: its class name slot 2 is not "
                              "a String parameter; class left unchanged"},
        Case{{3, 1, 2, 3, 4}, "its class loader slot 3 is not an object parameter"},
        Case{{0, 1, 2, 2, 4}, "its offset slot 2 is not an int parameter"},
        Case{{0, 1, 2, 3, 5}, "its length slot 5 is not an int parameter"}}) {
    MethodSpec spec = defineClassSpec("java/lang/ClassLoader");
    std::copy(c.slots, c.slots + MethodSpec::SLOTS, spec.slots);
    Bytes out;
    CapturedOutput log;
    EXPECT_FALSE(rewrite(loaderClass(0x21, 2), spec, &out));
    log.finish();
    EXPECT_TRUE(out.empty());
    EXPECT_CONTAINS(log.out(), c.complaint);
  }
}

TEST(ClassWriterTest, SlotsAbove255UseWide) {
  uint8_t buffer[16];
  ClassWriter w(buffer, sizeof buffer);
  EXPECT_TRUE(w.load('A', 255));
  EXPECT_TRUE(w.store('D', 256));
  EXPECT_TRUE(w.load('L', 0x1234));
  EXPECT_FALSE(w.load('V', 1));
  EXPECT_EQ(Bytes(buffer, buffer + w.written()),
            (Bytes{25, 0xFF, 196, 57, 1, 0, 196, 22, 0x12, 0x34}));
  w.u4(0);
  w.u4(0);
  EXPECT_TRUE(w.overflowed());
  EXPECT_EQ(w.written(), 14u);

  MethodSpec spec = defineClassSpec("a/B");
  spec.slots[MethodSpec::BYTES] = 256;
  WrapperCode code;
  ASSERT_TRUE(generateWrapper(spec, "AAII", false, OP_INVOKEVIRTUAL, 1, 2, &code));
  EXPECT_EQ(Bytes(code.code.begin() + 4, code.code.begin() + 8), (Bytes{196, 25, 1, 0}));
}

TEST(ClassWriterTest, DescriptorsGiveTypeLetters) {
  std::string letters;
  auto of = [&](const char* d) {
    return typeLetters(d, std::char_traits<char>::length(d), &letters) ? letters : "!";
  };
  EXPECT_EQ(of("(Ljava/lang/String;[BIIJFDZCS[[Lx;)V"), "AAIILFDIIIAV");
  EXPECT_EQ(of("()[I"), "A");
  for (const char* bad : {"", "(", "(I", "(I)", "(Lx)V", "(Q)V", "(I)VV", "(L;)V", "(I)[V"})
    EXPECT_EQ(of(bad), "!") << bad;
}

}  // namespace
