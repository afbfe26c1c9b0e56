// An exception that escapes an entry point's body is answered as a failed
// call and never reaches the JVM.
#include "platform/EntryGuard.h"

#include <gtest/gtest.h>
#include <jni.h>

#include <new>
#include <vector>

#include "support/TestSupport.h"

TEST(EntryGuard, AnEscapingExceptionBecomesTheFailureValue) {
  CapturedOutput captured;
  EXPECT_EQ(guardedEntry<jint>("count", []() -> jint { throw std::bad_alloc(); }), 0);
  EXPECT_EQ(guardedEntry<jstring>("text",
                                  []() -> jstring {
                                    std::vector<char> huge;
                                    huge.reserve(huge.max_size() + 1);  // throws std::length_error
                                    return nullptr;
                                  }),
            nullptr);
  bool ran = false;
  guardedEntry("plain", [&]() {
    ran = true;
    throw 7;
  });
  EXPECT_TRUE(ran);
  EXPECT_EQ(guardedEntry<jint>("value", []() -> jint { return 42; }), 42);
  captured.finish();
  for (const char* entry : {"count", "text", "plain"})
    EXPECT_CONTAINS(captured.err(), std::string("[HM]: ERROR: ") + entry +
                                        " failed: out of memory or internal error\n")
        << entry;
  EXPECT_EQ(captured.err().find("value"), std::string::npos);
}
