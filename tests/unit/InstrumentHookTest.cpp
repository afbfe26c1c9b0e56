// Set-up from the instrumentation property file, and the class-load hook
// without a JVM.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "instrument/ClassLoadHook.h"
#include "instrument/ClassLoadHookTestAccess.h"
#include "instrument/InstrumentConfig.h"
#include "instrument/InstrumentSetup.h"
#include "support/ClassBytes.h"
#include "support/FakeJvmpi.h"
#include "support/TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

class InstrumentSetupTest : public ::testing::Test {
 protected:
  ~InstrumentSetupTest() override { instrumentationSetup(""); }
  // Runs set-up over a property file holding text.
  bool setupWith(const std::string& text) {
    dir.write("props", text);
    ScopedEnv env("XRPSKEPA_PROPS", dir.at("props").c_str());
    return instrumentationSetup("");
  }
  TempDir dir;
  CapturedOutput quiet;
};

TEST_F(InstrumentSetupTest, KeysEscapesAndSpecsAreApplied) {
  ASSERT_TRUE(setupWith(
      "# comment\n! other comment\n\n  \tcom.qel.morvan.kepa.jvmpi.dumpClasses = true  tail\r\n"
      "com.qel.morvan.kepa.jvmpi.dumpPath:/tmp/d\\u0041ump\n"
      "com.qel.morvan.kepa.jvmpi.delegateTo=@x\n"
      "com.qel.morvan.kepa.jvmpi.classLoader\ta.b.C:a.b.D:m:(La.b.E;[BII)La.b.C;:9:8:7:6:65535\n"
      "com.qel.morvan.kepa.jvmpi.include=whatever\n"
      "com.qel.morvan.kepa.jvmpi.dumpClassesX=false\n"));
  const InstrumentConfig& c = instrumentConfig();
  EXPECT_TRUE(c.dumpClasses);
  EXPECT_EQ(c.dumpPath, "/tmp/dAump/");
  EXPECT_TRUE(c.instrumentDefineClass);
  ASSERT_EQ(c.classLoaderSpecs.size(), 4u);
  const MethodSpec& s = c.classLoaderSpecs[3];
  EXPECT_EQ(s.targetClass, "a/b/C");
  EXPECT_EQ(s.ownerClass, "a/b/D");
  EXPECT_EQ(s.descriptor, "(La/b/E;[BII)La/b/C;");
  EXPECT_EQ(s.slots[0], 9);
  EXPECT_EQ(s.slots[4], 65535);

  ASSERT_TRUE(
      setupWith("com.qel.morvan.kepa.jvmpi.instrumentDefineClass=yes\n"
                "com.qel.morvan.kepa.jvmpi.dumpPath=d\\\\\n"));
  EXPECT_FALSE(instrumentConfig().instrumentDefineClass);
  EXPECT_EQ(instrumentConfig().dumpPath, "d\\\\");
}

TEST_F(InstrumentSetupTest, BadSpecsFailSetupAndBadEscapesOrNoFileLeaveTheDefaults) {
  const char* key = "com.qel.morvan.kepa.jvmpi.proxy=";
  EXPECT_FALSE(setupWith(std::string(key) + "a:a:m:()La;:0:1:2:3\n"));        // eight fields
  EXPECT_FALSE(setupWith(std::string(key) + "a:a:m:()La;:0:1:2:3:4:5\n"));    // ten
  EXPECT_FALSE(setupWith(std::string(key) + "a:a:m:()La;:0:1:2:3:65536\n"));  // slot range
  EXPECT_FALSE(setupWith(std::string(key) + "a:a:m:()La;:0:1:x:3:4\n"));      // not a number
  EXPECT_TRUE(
      setupWith("com.qel.morvan.kepa.jvmpi.instrumentDefineClass=true\n"
                "com.qel.morvan.kepa.jvmpi.proxy=a:a:m:()La;:0:1:2:3\n\\u00G1"));
  EXPECT_FALSE(instrumentConfig().instrumentDefineClass);
  EXPECT_EQ(instrumentConfig().proxySpecs.size(), 2u);
  // Without a file, or with one that cannot be read, the defaults hold.
  for (const std::string& path : {std::string(), dir.at("absent")}) {
    ASSERT_TRUE(setupWith("com.qel.morvan.kepa.jvmpi.instrumentDefineClass=true\n"));
    ScopedEnv none("XRPSKEPA_PROPS", nullptr);
    EXPECT_TRUE(instrumentationSetup(path.c_str()));
    EXPECT_FALSE(instrumentConfig().instrumentDefineClass) << path;
  }
}

TEST(InstrumentEscapes, CodePointsBecomeUtf8) {
  std::string out;
  ASSERT_TRUE(decodeEscapes("\\u0041\\u00e9\\u20AC\\u0000|\\n\\", &out));
  EXPECT_EQ(out, "A\xC3\xA9\xE2\x82\xAC |\\n\\");
  EXPECT_FALSE(decodeEscapes("\\u004", &out));
  EXPECT_FALSE(decodeEscapes("\\u00x1", &out));
}

// The hook over classes built here, with the fake interface recording the
// event it disables.
class ClassLoadHookTest : public InstrumentSetupTest {
 protected:
  ClassLoadHookTest() {
    fake.install();
    resetClassLoadHook();
  }
  ~ClassLoadHookTest() override {
    resetClassLoadHook();
    fake.uninstall();
  }
  // Runs the hook; the bytes it hands back.
  Bytes hook(Bytes in) {
    JVMPI_Event event{};
    event.event_type = JVMPI_EVENT_CLASS_LOAD_HOOK;
    auto& h = event.u.class_load_hook;
    h.class_data = in.data();
    h.class_data_len = static_cast<jint>(in.size());
    h.malloc_f = [](unsigned int size) { return std::malloc(size); };
    instrumentClassLoadHook(&event);
    Bytes out(h.new_class_data, h.new_class_data + h.new_class_data_len);
    if (h.new_class_data != in.data()) std::free(h.new_class_data);
    return out;
  }
  // The JVM has accepted (prepared) a class of this name.
  static void prepared(const char* name) {
    JVMPI_Event event{};
    event.event_type = JVMPI_EVENT_CLASS_PREPARE;
    event.u.class_prepare.class_name = name;
    instrumentClassPrepared(&event);
  }
  static Bytes definer(const std::string& name, uint16_t major = 48) {
    TestClass c(name, 0x21);
    c.declareThrows();
    const char* type = "(Ljava/lang/String;[BII)Ljava/lang/Class;";
    uint16_t ref = c.methodref(name, "defineClass0", type);
    c.method(2, "defineClass0", type, {1, 176});
    c.method(1, "load", "()V", {183, uint8_t(ref >> 8), uint8_t(ref), 177});
    return c.bytes(major);
  }
  FakeJvmpi fake;
};

TEST_F(ClassLoadHookTest, RefusedAndNewerClassesPassUnchanged) {
  ASSERT_TRUE(
      setupWith("com.qel.morvan.kepa.jvmpi.instrumentDefineClass=true\n"
                "com.qel.morvan.kepa.jvmpi.classLoader=a.L:a.L:defineClass0:"
                "(Ljava.lang.String;[BII)Ljava.lang.Class;:0:1:2:3:4\n"));
  Bytes minor = definer("a/L"), corrupt = definer("a/L");
  minor[5] = 3;       // 48.3
  corrupt[8] = 0x7F;  // a pool count past the end
  for (const Bytes& in : {definer("a/L", 49), minor, corrupt, Bytes{0xCA},
                          Bytes{0xCA, 0xFE, 0xBA, 0xBF, 0, 0, 0, 48}})
    EXPECT_EQ(hook(in), in);
  quiet.finish();
  EXPECT_CONTAINS(quiet.out(), "Bad class file magic CAFEBABF");
  EXPECT_CONTAINS(quiet.out(), "Class file corrupt");
  EXPECT_TRUE(fake.disabled().empty());
}

TEST_F(ClassLoadHookTest, BothListsWrapOnceThenTheHookTurnsOff) {
  TempDir dump;
  ASSERT_TRUE(
      setupWith("com.qel.morvan.kepa.jvmpi.instrumentDefineClass=true\n"
                "com.qel.morvan.kepa.jvmpi.dumpClasses=true\n"
                "com.qel.morvan.kepa.jvmpi.dumpPath=" +
                dump.path() +
                "\n"
                "com.qel.morvan.kepa.jvmpi.classLoader=a.L:a.L:defineClass0:"
                "(Ljava.lang.String;[BII)Ljava.lang.Class;:0:1:2:3:4\n"
                "com.qel.morvan.kepa.jvmpi.proxy=a.P:a.P:defineClass0:"
                "(Ljava.lang.String;[BII)Ljava.lang.Class;:0:1:2:3:4\n"));
  Bytes loader = definer("a/L");
  Bytes wrapped = hook(loader);
  ParsedClass parsed = ParsedClass::parse(wrapped);
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.methods.back().name, "halprobe$defineClass0");
  EXPECT_EQ(readFile(dump.at("a.L.class")), std::string(wrapped.begin(), wrapped.end()));
  // Not done before the JVM accepts the wrapped class: after a rejected
  // definition the next one is wrapped too.
  EXPECT_EQ(fake.enabled().back(), JVMPI_EVENT_CLASS_PREPARE);
  prepared("a/Other");
  EXPECT_EQ(hook(loader), wrapped);
  prepared("a/L");
  // The class-loader list is done: a further loader class stays as it is.
  EXPECT_EQ(hook(loader), loader);
  EXPECT_EQ(fake.disabled(), std::vector<jint>{JVMPI_EVENT_CLASS_PREPARE});
  EXPECT_NE(hook(definer("a/P")), definer("a/P"));
  prepared("a/P");
  EXPECT_EQ(fake.disabled(), (std::vector<jint>{JVMPI_EVENT_CLASS_PREPARE,
                                                JVMPI_EVENT_CLASS_PREPARE,
                                                JVMPI_EVENT_CLASS_LOAD_HOOK}));
}

}  // namespace
