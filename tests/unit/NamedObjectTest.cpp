#include "base/NamedObject.h"

#include <gtest/gtest.h>

#include <string>

#include "base/Log.h"
#include "base/LogTestAccess.h"
#include "support/TestSupport.h"

namespace {
class NamedObjectLog : public testing::Test {
 protected:
  void SetUp() override { resetLog(); }
  void TearDown() override { resetLog(); }
};
}  // namespace

TEST_F(NamedObjectLog, LinesCarryNameUnitAndLine) {
  NamedObject object("ProbeMgr");
  CapturedOutput captured;
  object.logInfo("ProbeMgr", 42, "started");
  object.logWarning("Unit", 7, "careful");
  object.logError("Unit", 8, "broken");
  const std::string& out = captured.out();
  EXPECT_CONTAINS(out, " INFO: [ProbeMgr (ProbeMgr@42)] started \n \n");
  EXPECT_CONTAINS(out, " WARNING: [ProbeMgr (Unit@7)] careful \n \n");
  EXPECT_CONTAINS(out, " ##ERROR: [ProbeMgr (Unit@8)] broken \n \n");
  NamedObject unnamed(nullptr);
  CapturedOutput nulls;
  unnamed.logInfo(nullptr, 2, nullptr);
  EXPECT_CONTAINS(nulls.out(), "[NULL (@2)]  \n");
}

TEST_F(NamedObjectLog, LongTextIsCutToItsBuffer) {
  NamedObject object("Obj");
  std::string text(5000, 'y');
  CapturedOutput captured;
  object.logInfo("Unit", 1, text.c_str());
  object.logf(LOG_INFO, "Unit", 2, "%s", text.c_str());
  const std::string& out = captured.out();
  // "[Obj (Unit@1)] " and the text share the 3000-byte buffer.
  std::string prefix = "[Obj (Unit@1)] ";
  size_t at = out.find(prefix);
  ASSERT_NE(at, std::string::npos);
  size_t end = out.find(" \n", at);
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(end - at, 2999u);
  EXPECT_EQ(countOf(out, std::string(2999 - prefix.size(), 'y') + " \n"), 2);
}
