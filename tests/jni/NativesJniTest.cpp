// The natives of the thread subsystem and the class natives of method-level
// tracing called through their exported names with the JNIEnv of a JVM
// created in this process.
#include <gtest/gtest.h>
#include <jni.h>

#include <array>
#include <cstring>
#include <string>

#include "config/Identity.h"
#include "events/ProtocolVisitor.h"
#include "events/ReportRecords.h"
#include "events/RequestRecord.h"
#include "events/ResourceRecords.h"
#include "profiler/MethodLevelNatives.h"
#include "publish/AppServerName.h"
#include "support/ProfilerTestEnv.h"
#include "threads/ThreadId.h"

extern "C" {
void Java_com_halden_probe_ThreadManager_startNativeHttpRequest(JNIEnv*, jclass, jint, jstring,
                                                                jstring, jstring, jstring);
void Java_com_halden_probe_ThreadManager_finishNativeHttpRequest(JNIEnv*, jclass, jstring, jint,
                                                                 jint);
jstring Java_com_halden_probe_ThreadManager_getNativeStoppedThreadIDs(JNIEnv*, jclass);
jstring Java_com_halden_probe_ThreadManager_getNativeProbeStatus(JNIEnv*, jclass);
jint Java_com_halden_command_CommandAgent_getThreadId(JNIEnv*, jobject, jstring, jstring);
void Java_com_halden_probe_ProbeUtils_endNativeMQRequest(JNIEnv*, jclass, jstring, jstring, jint,
                                                         jbyteArray, jboolean);
void Java_com_halden_probe_ProbeUtils_sendNativeMQIRecord(JNIEnv*, jclass, jstring, jstring, jlong,
                                                          jbyteArray, jintArray, jlongArray, jint);
void Java_com_qel_ejs_cm_proxy_HaldenPreparedStatementProxy_setSQL(JNIEnv*, jobject, jstring,
                                                                   jstring);
void Java_com_qel_qs_rsadapter_jdbc_HaldenCallableStatement_beginSQLRequest(JNIEnv*, jobject,
                                                                            jstring, jstring);
void Java_oracle_jdbc_driver_OracleStatement_beginSQLRequest(JNIEnv*, jobject, jstring, jstring);
}

namespace {

JavaVM* vm = nullptr;
JNIEnv* jvmEnv = nullptr;

// The JVM is left to the process's end: it cannot be created again.
class JvmEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    char heap[] = "-Xmx64m";
    JavaVMOption option{heap, nullptr};
    JavaVMInitArgs args{JNI_VERSION_10, 1, &option, JNI_FALSE};
    ASSERT_EQ(JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&jvmEnv), &args), JNI_OK);
  }
};

const ::testing::Environment* const jvm = ::testing::AddGlobalTestEnvironment(new JvmEnvironment());

class NativesJni : public ProfilerTestEnv {
 protected:
  JNIEnv* env = nullptr;
  void SetUp() override {
    ProfilerTestEnv::SetUp();
    env = jvmEnv;
    ASSERT_NE(env, nullptr);
    env->PushLocalFrame(64);
  }
  void TearDown() override {
    EXPECT_FALSE(env->ExceptionCheck()) << "a native left an exception pending";
    env->ExceptionClear();
    env->PopLocalFrame(nullptr);
    ProfilerTestEnv::TearDown();
  }
  jstring str(const char* text) { return env->NewStringUTF(text); }
  std::string chars(jstring text) {
    if (!text) return "<null>";
    const char* c = env->GetStringUTFChars(text, nullptr);
    std::string out(c);
    env->ReleaseStringUTFChars(text, c);
    return out;
  }
  ThreadData* data() { return threadMgr->getThreadData(env); }
  jobjectArray strings(jsize length) {
    return env->NewObjectArray(length, env->FindClass("java/lang/String"), str("m"));
  }
};

}  // namespace

TEST_F(NativesJni, HttpNativesCopyJavaStrings) {
  std::string longUrl(1500, 'u');
  Java_com_halden_probe_ThreadManager_startNativeHttpRequest(
      env, nullptr, 0, str("servlet"), str("app \xc3\xa9"), str(longUrl.c_str()), nullptr);
  Java_com_halden_probe_ThreadManager_finishNativeHttpRequest(env, nullptr,
                                                              str("JSP_CANCEL_REQUEST"), 0, 0);
  auto records = drain(data());
  ASSERT_EQ(records.size(), 2u);
  auto& start = static_cast<RequestRecord&>(*records[0]);
  EXPECT_EQ(start.threadId, threadIdOf(env));
  EXPECT_STREQ(start.requestName.get(), "servlet");
  EXPECT_STREQ(start.applicationName.get(), "app \xc3\xa9");
  EXPECT_EQ(start.url.length(), 999u);
  EXPECT_STREQ(start.detail.get(), "") << "a null detail";
  EXPECT_EQ(static_cast<RequestRecord&>(*records[1]).depth, 1);
  EXPECT_EQ(data()->requestDepth(), 0);
}

// The thread ids and their lookup by names are checked in the JVM test.
TEST_F(NativesJni, StoppedIdsAndStatusReachJava) {
  EXPECT_EQ(Java_com_halden_command_CommandAgent_getThreadId(env, nullptr, nullptr, str("main")),
            0);
  EXPECT_EQ(Java_com_halden_probe_ThreadManager_getNativeStoppedThreadIDs(env, nullptr), nullptr);
  threadMgr->addStoppedThread(7);
  threadMgr->addStoppedThread(12345);
  EXPECT_EQ(chars(Java_com_halden_probe_ThreadManager_getNativeStoppedThreadIDs(env, nullptr)),
            "         7;     12345;");
  EXPECT_EQ(Java_com_halden_probe_ThreadManager_getNativeStoppedThreadIDs(env, nullptr), nullptr);

  EXPECT_EQ(Java_com_halden_probe_ThreadManager_getNativeProbeStatus(env, nullptr), nullptr)
      << "no memory monitor";
  memoryMonitor = new MemoryMonitor();
  EXPECT_EQ(chars(Java_com_halden_probe_ThreadManager_getNativeProbeStatus(env, nullptr)),
            "Approximate Halden Native Memory consumed(bytes): 0 \n");
  delete memoryMonitor;
  memoryMonitor = nullptr;
}

TEST_F(NativesJni, MqArraysAreCheckedAndCopied) {
  data()->requestDepth() = 2;
  jbyteArray message = env->NewByteArray(4);
  env->SetByteArrayRegion(message, 0, 4, std::array<jbyte, 4>{9, 8, 7, 6}.data());
  Java_com_halden_probe_ProbeUtils_endNativeMQRequest(env, nullptr, str("q"), str("id"), 13,
                                                      message, JNI_TRUE);
  auto records = drain(data());
  ASSERT_EQ(records.size(), 3u);
  auto& content = static_cast<MqMessageRecord&>(*records[1]);
  ASSERT_EQ(content.messageLength, 4);
  EXPECT_EQ(content.message[0] * 10 + content.message[3], 96);
  EXPECT_STREQ(content.messageId.get(), "id");
  jbyteArray ops = env->NewByteArray(3);
  jintArray shortValues = env->NewIntArray(2);
  jintArray values = env->NewIntArray(3);
  jlongArray times = env->NewLongArray(3);
  env->SetLongArrayRegion(times, 0, 3, std::array<jlong, 3>{1, 2, 3}.data());
  auto send = [&](jbyteArray o, jintArray v, jint count) {
    Java_com_halden_probe_ProbeUtils_sendNativeMQIRecord(env, nullptr, str("a"), str("b"), 1, o, v,
                                                         times, count);
  };
  send(ops, shortValues, 3);
  send(ops, values, 4);
  send(nullptr, values, 3);
  EXPECT_EQ(data()->queueLength(), 0);
  send(ops, values, 3);
  records = drain(data());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(static_cast<MqiRecord&>(*records[0]).times[2], 3);
}

TEST_F(NativesJni, SqlNatives) {
  Java_com_qel_ejs_cm_proxy_HaldenPreparedStatementProxy_setSQL(env, nullptr, str("select 1"),
                                                                nullptr);
  EXPECT_STREQ(data()->own().statementSql.get(), "select 1");
  EXPECT_EQ(data()->own().statementDataSource, nullptr);
  Java_com_qel_qs_rsadapter_jdbc_HaldenCallableStatement_beginSQLRequest(env, nullptr,
                                                                         str("call p"), str("ds"));
  Java_oracle_jdbc_driver_OracleStatement_beginSQLRequest(env, nullptr, str("call p"), str("ds"));
  auto records = drain(data());
  ASSERT_EQ(records.size(), 1u) << "the driver's statement stays quiet inside the agent's own SQL";
  EXPECT_STREQ(static_cast<SqlRecord&>(*records[0]).sqlText.get(), "call p");
}

// This JVM has no agent classes: the application-server name lookup raises
// an exception, which is cleared, and hm.appserver goes out instead. The
// probe manager's values come from the installed source.
TEST_F(NativesJni, HelloIdentityFallsBackToTheServerNameWhenJavaCannotAnswer) {
  char savedServer[sizeof serverName];
  std::memcpy(savedServer, serverName, sizeof serverName);
  std::strcpy(serverName, "srv");
  setProbeIdentitySource([](HelloIdentity* id) { std::strcpy(id->productVersion, "6.0.2"); });
  HelloIdentity id;
  fillHelloIdentity(&id, env);
  setProbeIdentitySource(nullptr);
  std::memcpy(serverName, savedServer, sizeof serverName);
  EXPECT_STREQ(id.appServerName, "srv");
  EXPECT_STREQ(id.productVersion, "6.0.2");
}

// Arrays of different lengths build nothing; Java's unload number is both the
// sequence number and the class id on the wire.
TEST_F(NativesJni, ClassNativesCheckTheirArraysAndKeepTheJavaNumber) {
  jintArray ids = env->NewIntArray(3);
  jobjectArray three = strings(3), two = strings(2);
  Java_com_halden_command_MethodLevelModule_initializeClass(env, nullptr, str("app/Odd"), ids,
                                                            three, two);
  EXPECT_FALSE(Java_com_halden_probe_l3trace_BcmRuntime_sendClassEventNative(
      env, nullptr, 9, str("app/Odd"), ids, two, three));
  EXPECT_TRUE(liveClasses().empty());
  EXPECT_EQ(data()->queueLength(), 0);
  Java_com_halden_command_MethodLevelModule_initializeClass(env, nullptr, str("app/Even"), ids,
                                                            three, three);
  EXPECT_EQ(liveClasses(), std::vector<std::string>{"app/Even"});
  drain(data());

  env->SetIntArrayRegion(ids, 0, 3, std::array<jint, 3>{5, 6, 0x01020304}.data());
  ASSERT_TRUE(Java_com_halden_probe_l3trace_BcmRuntime_sendClassUnloadEventNative(
      env, nullptr, 7, str("app/Gone"), ids));
  auto records = drain(data());
  ASSERT_EQ(records.size(), 1u);
  std::vector<uint8_t> wire(64);
  WireCursor c(wire.data(), wire.size());
  ASSERT_EQ(ProtocolVisitor().writeRecord(records[0].get(), c), WriteResult::Written);
  EXPECT_EQ(std::vector<uint8_t>(wire.begin() + 1, wire.begin() + 25),
            (std::vector<uint8_t>{0, 0, 0, 7, 0, 0, 0, 7, 0, 0, 0, 3,
                                  0, 0, 0, 5, 0, 0, 0, 6, 1, 2, 3, 4}));
}
