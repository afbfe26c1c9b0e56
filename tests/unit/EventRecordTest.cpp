#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "events/EventRecords.h"

namespace {

// A class entry with two methods, as the class table builds them.
ClassEntry* makeEntry(int copyFlag) {
  auto* e = new ClassEntry();
  e->classId = 77;
  e->className.reset(new char[8]);
  std::strcpy(e->className.get(), "a/B");
  e->sequenceNumber = 9;
  e->copyFlag = copyFlag;
  e->methodCount = 2;
  e->methods.reset(new MethodRecord[2]);
  for (int i = 0; i < 2; i++) {
    e->methods[i].methodName.reset(new char[4]);
    std::strcpy(e->methods[i].methodName.get(), i ? "g" : "f");
    e->methods[i].methodSignature.reset(new char[4]);
    std::strcpy(e->methods[i].methodSignature.get(), "()V");
    e->methods[i].methodId = 100 + i;
    e->methods[i].classEntry = e;
  }
  return e;
}

}  // namespace

TEST(OwnedText, HoldsACopyOfTextOrBytesAndCutsInPlace) {
  char source[] = "hello";
  OwnedText t;
  EXPECT_FALSE(t.present());
  ASSERT_TRUE(t.assign(source));
  source[0] = 'j';  // the text is a copy
  EXPECT_STREQ(t.get(), "hello");
  EXPECT_EQ(t.length(), 5u);
  ASSERT_TRUE(t.assign(""));
  EXPECT_TRUE(t.present());
  ASSERT_TRUE(t.assign(nullptr));
  EXPECT_FALSE(t.present());
  const unsigned char token[4] = {0xA0, 0x00, 0x00, 0x05};
  ASSERT_TRUE(t.assign(token, 4));
  EXPECT_EQ(t.length(), 4u);
  EXPECT_EQ(std::memcmp(t.get(), token, 4), 0);
  EXPECT_EQ(t.get()[4], '\0');

  ASSERT_TRUE(t.assign("a/b?x=1"));
  t.cut(3);
  EXPECT_STREQ(t.get(), "a/b");
  t.cut(10);  // longer than the text: nothing happens
  EXPECT_STREQ(t.get(), "a/b");
  ASSERT_TRUE(t.assign(t.get() + 2));  // a part of itself
  EXPECT_STREQ(t.get(), "b");
}

// Records destroyed through the base release what they own (LeakSanitizer
// checks this in the sanitizer build); a class record destroys a detached
// copy of its entry but never an entry of the class table (AddressSanitizer
// reports the use after free otherwise).
TEST(EventRecord, RecordsReleaseWhatTheyOwnAndNothingElse) {
  auto* msg = new MqMessageRecord(SUBTYPE_BEGIN);
  msg->messageId.assign("id");
  msg->message.reset(new uint8_t[3]{1, 2, 3});
  msg->messageLength = 3;
  auto* mqi = new MqiRecord(SUBTYPE_SINGLE);
  mqi->text1.assign("1");
  mqi->ops.reset(new uint8_t[2]{1, 2});
  mqi->values.reset(new uint32_t[2]{3, 4});
  mqi->times.reset(new int64_t[2]{5, 6});
  mqi->count = 2;
  auto* lock = new LockDetailRecord(SUBTYPE_BEGIN);
  lock->lockName.assign("l");
  lock->text2.assign("2");
  auto* unload = new ClassRecord(SUBTYPE_CLASS_UNLOAD);
  unload->classEntry = makeEntry(1);
  std::unique_ptr<ClassEntry> tableEntry(makeEntry(0));
  auto* load = new ClassRecord(SUBTYPE_CLASS_LOAD);
  load->classEntry = tableEntry.get();
  for (EventRecord* r : std::initializer_list<EventRecord*>{msg, mqi, lock, unload, load}) delete r;
  EXPECT_STREQ(tableEntry->className.get(), "a/B");
  EXPECT_EQ(tableEntry->methods[1].methodId.load(), 101u);
}
