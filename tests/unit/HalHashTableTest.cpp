#include "base/HalHashTable.h"

#include <gtest/gtest.h>

#include "support/FakeJvmpi.h"

TEST(HalHashTable, BucketCountsArePrimesAboveTheRequest) {
  EXPECT_EQ(halhash::bucketCountFor(11), 13);
  EXPECT_EQ(halhash::bucketCountFor(13), 17);
  EXPECT_EQ(halhash::bucketCountFor(21), 23);
  EXPECT_EQ(halhash::bucketCountFor(64), 67);
  EXPECT_EQ(halhash::bucketCountFor(1259), 1259);
  EXPECT_EQ(halhash::bucketCountFor(5000), 5000);
}
