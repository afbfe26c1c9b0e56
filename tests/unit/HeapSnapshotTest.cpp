// The heap dump reader and the snapshot summary, on crafted dumps.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "platform/JvmtiHeapDump.h"
#include "profiler/HeapDumpParser.h"
#include "profiler/HeapSnapshot.h"
#include "support/ProfilerTestEnv.h"

extern "C" jint JNICALL Java_com_halden_command_heap_HeapUtil_getHeapSnapShotData(JNIEnv*, jclass,
                                                                                  jobject);

namespace {

// Builds dump bytes: ids as stored, other integers big-endian.
struct Dump {
  std::vector<uint8_t> bytes;
  Dump& u1(uint8_t v) {
    bytes.push_back(v);
    return *this;
  }
  Dump& u2(uint16_t v) { return u1(static_cast<uint8_t>(v >> 8)).u1(static_cast<uint8_t>(v)); }
  Dump& u4(uint32_t v) { return u2(static_cast<uint16_t>(v >> 16)).u2(static_cast<uint16_t>(v)); }
  Dump& id(uint32_t v) {
    uint8_t raw[4];
    std::memcpy(raw, &v, 4);
    bytes.insert(bytes.end(), raw, raw + 4);
    return *this;
  }
  Dump& zeros(size_t n) {
    bytes.insert(bytes.end(), n, 0);
    return *this;
  }
  Dump& instance(uint32_t classId, uint32_t size) {
    return u1(0x21).id(1).id(classId).u4(size).zeros(size);
  }
  Dump& primitives(uint8_t type, uint32_t count, size_t elementSize) {
    return u1(0x23).id(2).u4(count).u1(type).zeros(count * elementSize);
  }
  Dump& objects(uint32_t count) { return u1(0x22).id(3).u4(count).id(0).zeros(4 * count); }
};

// Class 7 "app/Cart" with one interface and statics int, long, boolean;
// class 9 "app/Item"; class 11 named "app/Cart" too (another loader); any
// other class has no information.
bool classInfo(void* asked, jobjectID classId, HeapClassInfo* info) {
  if (asked) ++*static_cast<int*>(asked);
  const char* name = classId == 7 || classId == 11 ? "app/Cart"
                     : classId == 9                ? "app/Item"
                                                   : nullptr;
  if (!name) return false;
  std::strcpy(info->name, name);
  info->classId = classId;
  if (classId == 7) {
    info->interfaceCount = 1;
    info->staticCount = 3;
    info->staticTypes.reset(new int8_t[3]{basicTypeOfSignature("I"), basicTypeOfSignature("J"),
                                          basicTypeOfSignature("Z")});
  }
  return true;
}

std::string totalsOf(const HeapTotals& t) {
  return std::to_string(t.instances) + "/" + std::to_string(t.instanceBytes) + " " +
         std::to_string(t.primitiveArrays) + "/" + std::to_string(t.primitiveArrayBytes) + " " +
         std::to_string(t.objectArrays) + "/" + std::to_string(t.objectArrayBytes);
}

Dump everyRecord() {
  Dump d;
  d.u1(0xFF).id(1).u1(5).id(1).u1(7).id(1);                 // 4-byte roots
  d.u1(1).id(1).id(2).u1(4).id(1).id(2).u1(6).id(1).id(2);  // 8-byte roots
  d.u1(2).id(1).id(2).u4(3).u1(3).id(1).id(2).u4(3);        // 12-byte roots
  d.u1(0x20).id(7).zeros(24).u4(40).id(30).u2(1).zeros(7);  // class dump of 7...
  d.u4(1).zeros(8).u1(1);                                   // ...its statics
  d.u1(0x20).id(99);                                        // no information: read on
  d.instance(7, 16).instance(7, 24);
  d.primitives(11, 3, 8);
  d.objects(2);
  d.u1(0x55);  // unknown tag: the next byte is a tag
  return d;
}

TEST(HeapDumpParser, EveryRecordKindIsReadAndCounted) {
  Dump d = everyRecord();
  int asked = 0;
  HeapDumpParser parser(&classInfo, &asked);
  ASSERT_TRUE(parser.parse(d.bytes.data(), d.bytes.data() + d.bytes.size()));
  EXPECT_EQ(totalsOf(parser.totals()), "2/40 1/24 1/8");
  ASSERT_EQ(parser.classes().size(), 1u);
  EXPECT_EQ(parser.classes()[0].name, "app/Cart");
  EXPECT_EQ(asked, 3);  // two class dumps, one instance class: asked once per dump
  std::unique_ptr<char[]> text = parser.summaryText();
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text.get(),
               "72,4\n"
               "app/Cart,40,55.6,2,50.0\n"
               "primitive[],24,33.3,1,25.0\n"
               "object[],8,11.1,1,25.0\n");
}

TEST(HeapDumpParser, SummaryIsSmallestFirstAndMergesByNameAndSkipsUnknownClasses) {
  Dump d;
  d.instance(7, 100).instance(9, 16).instance(9, 24).instance(11, 8).instance(42, 50);
  HeapDumpParser parser(&classInfo, nullptr);
  parser.parse(d.bytes.data(), d.bytes.data() + d.bytes.size());
  std::unique_ptr<char[]> text = parser.summaryText();
  ASSERT_NE(text, nullptr);
  // Class 42 has no information: in the totals, without a line.
  EXPECT_STREQ(text.get(),
               "198,5\n"
               "app/Item,40,20.2,2,40.0\n"
               "app/Cart,108,54.5,2,40.0\n"
               "primitive[],0,0.0,0,0.0\n"
               "object[],0,0.0,0,0.0\n");
  EXPECT_TRUE(parser.classes().empty());  // released with the text
}

TEST(HeapDumpParser, CutDumpsStopCleanlyWithWholeRecordsOnly) {
  Dump d = everyRecord();
  HeapDumpParser parser(&classInfo, nullptr);
  int64_t last = 0;
  for (size_t cut = 0; cut <= d.bytes.size(); cut++) {
    std::vector<uint8_t> part(d.bytes.begin(), d.bytes.begin() + static_cast<long>(cut));
    parser.parse(part.data(), part.data() + part.size());
    int64_t bytes = parser.totals().bytes();
    EXPECT_GE(bytes, last) << cut;
    EXPECT_TRUE(bytes == 0 || bytes == 16 || bytes == 40 || bytes == 64 || bytes == 72) << cut;
    last = bytes;
  }
  EXPECT_EQ(last, 72);
  // An element count far past the end is not skipped into foreign memory.
  Dump huge;
  huge.u1(0x22).id(1).u4(0xFFFFFFFFu).id(0).instance(9, 4);
  parser.parse(huge.bytes.data(), huge.bytes.data() + huge.bytes.size());
  EXPECT_EQ(parser.totals().objects(), 0);
}

TEST(HeapDumpParser, RecordsOfTheJvmtiTableReadBack) {
  struct Object {
    jlong tag, size;
    jint length;
  } objects[] = {{7, 16, -1},
                 {7, 24, -1},
                 {kPrimitiveArrayTag + 11, 40, 3},
                 {kObjectArrayTag, 24, 2},
                 {kPrimitiveArrayTag + 8, 21, 5},
                 {0, 12, -1}};
  std::vector<uint8_t> dump;
  uint32_t id = 0;
  for (const Object& o : objects) {
    size_t at = dump.size();
    dump.resize(at + heapDumpRecordSize(o.tag, o.size, o.length));
    writeHeapDumpRecord(dump.data() + at, ++id, o.tag, o.size, o.length);
  }
  HeapDumpParser parser(&classInfo, nullptr);
  parser.parse(dump.data(), dump.data() + dump.size());
  EXPECT_EQ(totalsOf(parser.totals()), "3/52 2/29 1/8");
  ASSERT_EQ(parser.classes().size(), 1u);
  EXPECT_EQ(parser.classes()[0].count, 2u);
}

// The room the environment test tries is 1.6 bytes per byte of that heap.
TEST(HeapSnapshot, MaximumHeapComesFromTheLastXmxWithItsUnit) {
  const std::tuple<std::vector<const char*>, int, double> cases[] = {
      {{"java", "-Xms64m", "-Xmx512m", "Main"}, 512, 858993459},
      {{"java", "Main"}, 128, 214748364},
      {{"-Xmx2g", "-Xmx256M"}, 256, 429496729},
      {{"-Xmx2g"}, 2048, 3435973836},
      {{"-Xmx3145728"}, 3, 5033164},
      {{"-Xmx0m", nullptr}, 128, 214748364}};
  for (auto& [argv, megabytes, room] : cases) {
    long found = heapMegabytesOf(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(found, megabytes) << argv[0];
    EXPECT_EQ(heapRoomFor(found), room) << argv[0];
  }
}

// The dump and the class loads it asks for arrive through the event handler
// on the requesting thread, as the profiler interface delivers them.
class HeapSnapshotEvents : public ProfilerTestEnv {};

Dump snapshotDump;
JNIEnv* const kSnapshotEnv = reinterpret_cast<JNIEnv*>(0x7e0000003000);

jint answerRequests(jint type, void* arg) {
  JVMPI_Event e{};
  e.env_id = kSnapshotEnv;
  e.event_type = type | JVMPI_REQUESTED_EVENT;
  if (type == JVMPI_EVENT_HEAP_DUMP) {
    EXPECT_EQ(static_cast<JVMPI_HeapDumpArg*>(arg)->heap_dump_level, JVMPI_DUMP_LEVEL_2);
    e.u.heap_dump.begin = reinterpret_cast<char*>(snapshotDump.bytes.data());
    e.u.heap_dump.end = e.u.heap_dump.begin + snapshotDump.bytes.size();
  } else if (type == JVMPI_EVENT_CLASS_LOAD && reinterpret_cast<uintptr_t>(arg) == 9) {
    JVMPI_Field statics[] = {{"count", "I"}};
    e.u.class_load.class_name = "app/Item";
    e.u.class_load.class_id = 9;
    e.u.class_load.num_static_fields = 1;
    e.u.class_load.statics = statics;
    notifyEvent(&e);
    return JVMPI_SUCCESS;
  } else {
    return JVMPI_NOT_AVAILABLE;
  }
  notifyEvent(&e);
  return JVMPI_SUCCESS;
}

TEST_F(HeapSnapshotEvents, DumpIsSummarisedAndItsClassLoadsStayOutOfTheClassTable) {
  snapshotDump = Dump();
  snapshotDump.u1(0x20).id(9).zeros(24).u4(16).u2(0).u4(5);
  snapshotDump.instance(9, 16).instance(9, 16).instance(4, 8);
  fake.table.RequestEvent = &answerRequests;
  std::unique_ptr<char[]> text;
  EXPECT_EQ(takeHeapSnapshot(&text), HEAP_SNAPSHOT_OK);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text.get(),
               "40,3\napp/Item,32,80.0,2,66.7\nprimitive[],0,0.0,0,0.0\nobject[],0,0.0,0,0.0\n");
  EXPECT_TRUE(liveClasses().empty());

  // Afterwards a class load is a class load again.
  loadClass(kSnapshotEnv, "app/Late", 12, {});
  EXPECT_EQ(liveClasses(), (std::vector<std::string>{"app/Late"}));

  // No dump delivered: no text.
  fake.table.RequestEvent = [](jint, void*) -> jint { return JVMPI_NOT_AVAILABLE; };
  EXPECT_EQ(takeHeapSnapshot(&text), HEAP_SNAPSHOT_OK);
  EXPECT_EQ(text, nullptr);
}

std::atomic<int> heapRequests{0};

TEST_F(HeapSnapshotEvents, ANullBufferIsAnsweredBeforeTheHeapIsWalked) {
  heapRequests = 0;
  fake.table.RequestEvent = [](jint, void*) -> jint {
    heapRequests++;
    return JVMPI_NOT_AVAILABLE;
  };
  EXPECT_EQ(Java_com_halden_command_heap_HeapUtil_getHeapSnapShotData(nullptr, nullptr, nullptr),
            0);
  EXPECT_EQ(heapRequests.load(), 0);
}

}  // namespace
