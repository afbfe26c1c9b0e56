#include "Layouts.h"

#include <array>
#include <cstddef>

namespace psdump {

namespace {

std::vector<FieldSpec> pairs(int n) {
  static const char* const kCounts[] = {"count1", "count2", "count3", "count4", "count5"};
  static const char* const kTotals[] = {"total1", "total2", "total3", "total4", "total5"};
  std::vector<FieldSpec> out;
  for (int i = 0; i < n; ++i) {
    out.push_back({Op::U32, kCounts[i]});
    out.push_back({Op::I64, kTotals[i]});
  }
  return out;
}

// The runs of fixed bytes and texts of a layout; empty if a field is
// neither.
std::vector<SkipStep> skipSteps(const std::vector<FieldSpec>& fields) {
  std::vector<SkipStep> steps;
  SkipStep step{0, 0, false};
  for (size_t i = 0; i < fields.size(); ++i) {
    switch (fields[i].op) {
      case Op::U8:
      case Op::Mod:
        step.fixed += 1;
        break;
      case Op::U32:
      case Op::I32:
        step.fixed += 4;
        break;
      case Op::I64:
        step.fixed += 8;
        break;
      case Op::Head:
        step.fixed += 21;
        break;
      case Op::Text:
      case Op::Blob:
        step.text = true;
        steps.push_back(step);
        step = SkipStep{i + 1, 0, false};
        break;
      default:
        return {};
    }
  }
  if (step.fixed > 0) steps.push_back(step);
  return steps;
}

std::vector<Layout> buildLayouts() {
  // Bodies shared by many layouts.
  const std::vector<FieldSpec> kHeadMod = {{Op::Head, ""}, {Op::Mod, "mod"}};
  const std::vector<FieldSpec> kNumberValue = {{Op::U32, "number"}, {Op::I64, "value"}};
  const std::vector<FieldSpec> methodFields = {{Op::U32, kThreadIdField},
                                               {Op::U32, "methodId"},
                                               {Op::U32, "wallSeconds"},
                                               {Op::U32, "wallMicros"},
                                               {Op::I64, "cpuTime"}};
  const std::vector<FieldSpec> namedRequest = {{Op::Head, ""},
                                               {Op::U8, "namesFlag"},
                                               {Op::Text, "requestName"},
                                               {Op::Text, "applicationName"},
                                               {Op::Text, "url"},
                                               {Op::Mod, "mod"}};
  std::vector<FieldSpec> httpStart = namedRequest;
  httpStart.insert(httpStart.end() - 1, {Op::Text, "detail"});
  const std::vector<FieldSpec> portalRequest = {
      {Op::Head, ""},    {Op::Text, "requestName"}, {Op::Text, "applicationName"},
      {Op::Text, "url"}, {Op::Text, "detail"},      {Op::Mod, "mod"}};
  const std::vector<FieldSpec> jms3 = {{Op::Head, ""},
                                       {Op::Text, "destination"},
                                       {Op::Text, "text2"},
                                       {Op::Text, "text3"},
                                       {Op::Mod, "mod"}};
  const std::vector<FieldSpec> jms2 = {
      {Op::Head, ""}, {Op::Text, "destination"}, {Op::Text, "text2"}, {Op::Mod, "mod"}};
  const std::vector<FieldSpec> namedPair = {
      {Op::Head, ""}, {Op::Mod, "mod"}, {Op::Text, "name"}, {Op::Text, "text2"}};
  const std::vector<FieldSpec> lockBegin = {
      {Op::Head, ""}, {Op::U32, "lockId"}, {Op::Text, "lockName"}, {Op::Mod, "mod"}};
  const std::vector<FieldSpec> mqMessageBegin = {{Op::Head, ""},
                                                 {Op::Text, "messageId"},
                                                 {Op::Blob, "message"},
                                                 {Op::U8, "operationIs7"},
                                                 {Op::Mod, "mod"}};
  const std::vector<FieldSpec> correlationToken = {
      {Op::Head, ""}, {Op::Token, "token"}, {Op::Mod, "mod"}};

  std::vector<Layout> t = {
      {1,
       "classLoad",
       1,
       3,
       {{Op::U32, "classSeq"}, {Op::Text, "className"}, {Op::ClassMethods, "methods"}}},
      {12,
       "classUnload",
       1,
       4,
       {{Op::U32, "classSeq"}, {Op::U32, "classId"}, {Op::UnloadMethods, "methodIds"}}},
      {2, "methodEntry", 3, 0, methodFields},
      {3, "methodExit", 3, 1, methodFields},
      {4, "httpStart", 4, 0, httpStart},
      {5, "httpFinish", 4, 1, kHeadMod},
      {50, "httpError", 4, 2, kHeadMod},
      {6, "ejbBegin", 5, 0, namedRequest},
      {7, "ejbEnd", 5, 1, kHeadMod},
      {8,
       "trace",
       6,
       7,
       {{Op::U32, "wallSeconds"},
        {Op::U32, "wallMicros"},
        {Op::Text, "requestName"},
        {Op::Mod, "mod"}}},
      {9,
       "sqlBegin",
       7,
       0,
       {{Op::Head, ""}, {Op::Mod, "mod"}, {Op::Text, "dataSourceName"}, {Op::Text, "sqlText"}}},
      {10, "sqlEnd", 7, 1, kHeadMod},
      {13,
       "gcStart",
       8,
       0,
       {{Op::U32, kThreadIdField}, {Op::U32, "wallSeconds"}, {Op::U32, "wallMicros"}}},
      {14,
       "gcFinish",
       8,
       1,
       {{Op::U32, kThreadIdField},
        {Op::U32, "wallSeconds"},
        {Op::U32, "wallMicros"},
        {Op::I64, "usedObjects"},
        {Op::I64, "usedObjectSpace"},
        {Op::I64, "totalObjectSpace"}}},
      {25, "jmsBegin", 9, 0, jms3, 1},
      {27, "jmsBegin", 9, 0, jms3, 2},
      {29, "jmsBegin", 9, 0, jms2, 3},
      {31, "jmsBegin", 9, 0, jms2, 4},
      {26, "jmsEnd", 9, 1, kHeadMod, 1},
      {28, "jmsEnd", 9, 1, kHeadMod, 2},
      {30, "jmsEnd", 9, 1, kHeadMod, 3},
      {32, "jmsEnd", 9, 1, kHeadMod, 4},
      {37, "jcaBegin", 10, 0, {{Op::Head, ""}, {Op::Text, "name"}, {Op::Mod, "mod"}}},
      {38, "jcaEnd", 10, 1, kHeadMod},
      {33, "jndiBegin", 11, 0, namedPair},
      {34, "jndiEnd", 11, 1, kHeadMod},
      {35, "mailBegin", 12, 0, namedPair},
      {36, "mailEnd", 12, 1, kHeadMod},
      {39,
       "samplingRates",
       13,
       7,
       {{Op::I32, "rate1"},
        {Op::I32, "rate2"},
        {Op::I32, "rate3"},
        {Op::I32, "rate4"},
        {Op::U8, "flag"}}},
      {51, "correlationBegin", 14, 0, correlationToken},
      {52, "correlationEnd", 14, 1, kHeadMod},
      {53, "correlationPoint5", 14, 5, correlationToken},
      {54, "correlationPoint6", 14, 6, kHeadMod},
      {11,
       "dropNotice",
       15,
       7,
       {{Op::U32, kThreadIdField},
        {Op::I32, "otherBeginDropped"},
        {Op::I32, "otherEndDropped"},
        {Op::I32, "methodEntryDropped"},
        {Op::I32, "methodExitDropped"},
        {Op::I32, "sqlBeginDropped"},
        {Op::I32, "sqlEndDropped"}}},
      {40,
       "gxr",
       16,
       7,
       {{Op::Text, "text1"},
        {Op::Text, "text2"},
        {Op::Text, "text3"},
        {Op::I64, "value1"},
        {Op::U32, "number"},
        {Op::I64, "value2"}}},
      {41,
       "mqi",
       17,
       7,
       {{Op::Text, "text1"},
        {Op::Text, "text2"},
        {Op::I64, "value"},
        {Op::MqiElements, "elements"}}},
      {61, "portalLogin", 18, 7, kNumberValue},
      {62, "portalAccessControl", 19, 7, kNumberValue},
      {63, "credentialVault", 20, 7, pairs(5)},
      {64, "contentAccess", 21, 7, pairs(4)},
      {65, "portalPageBegin", 22, 0, portalRequest},
      {66, "portalPageEnd", 22, 1, kHeadMod},
      {67, "portletBegin", 23, 0, portalRequest},
      {68, "portletEnd", 23, 1, kHeadMod},
      {44, "psStatus", 24, 7, {{Op::Text, "status"}}},
      {45,
       "exception",
       25,
       7,
       {{Op::Text, "text1"}, {Op::Text, "text2"}, {Op::Text, "text3"}, {Op::Text, "text4"}}},
      {110,
       "mqRequestBegin",
       26,
       0,
       {{Op::Head, ""},
        {Op::Text, "queueManager"},
        {Op::Text, "queueName"},
        {Op::U8, "code"},
        {Op::Mod, "mod"}}},
      {111, "mqRequestEnd", 26, 1, {{Op::Head, ""}, {Op::U8, "code"}, {Op::Mod, "mod"}}},
      {57, "mqMessageBegin", 27, 0, mqMessageBegin, 0, "7,13"},
      {55, "mqMessageBegin", 27, 0, mqMessageBegin, 0, "10,11"},
      {58, "mqMessageEnd", 27, 1, kHeadMod, 0, "7,13"},
      {56, "mqMessageEnd", 27, 1, kHeadMod, 0, "10,11"},
      {112, "portal3Begin", 28, 0, namedRequest},
      {113, "portal3End", 28, 1, kHeadMod},
      {114, "portal4Begin", 29, 0, namedRequest},
      {115, "portal4End", 29, 1, kHeadMod},
      {124,
       "heapAllocationBegin",
       30,
       0,
       {{Op::Head, ""},
        {Op::U32, "number1"},
        {Op::Text, "text"},
        {Op::U32, "number2"},
        {Op::Mod, "mod"}}},
      {125, "heapAllocationEnd", 30, 1, kHeadMod},
      {118, "lock1Begin", 31, 0, lockBegin},
      {119, "lock1End", 31, 1, kHeadMod},
      {120,
       "lock2Begin",
       32,
       0,
       {{Op::Head, ""},
        {Op::U32, "lockId"},
        {Op::Text, "lockName"},
        {Op::U8, "byteValue"},
        {Op::Text, "text2"},
        {Op::Text, "text3"},
        {Op::U32, "number"},
        {Op::Mod, "mod"}}},
      {121, "lock2End", 32, 1, kHeadMod},
      {122, "lock3Begin", 33, 0, lockBegin},
      {123, "lock3End", 33, 1, kHeadMod},
      {46, "gatewayServlet", 34, 7, kNumberValue},
      {47, "modelBuilding", 35, 7, kNumberValue},
      {48, "pageLoading", 36, 7, kNumberValue},
  };
  for (Layout& l : t) {
    l.skip = skipSteps(l.fields);
    l.threadFirst = !l.fields.empty() && (l.fields[0].op == Op::Head ||
                                          (l.fields[0].op == Op::U32 &&
                                           l.fields[0].name == kThreadIdField));
  }
  return t;
}

}  // namespace

const std::vector<Layout>& allLayouts() {
  static const std::vector<Layout> layouts = buildLayouts();
  return layouts;
}

const std::array<const Layout*, 256>& layoutsByTag() {
  static const std::array<const Layout*, 256> byTag = [] {
    std::array<const Layout*, 256> a{};
    for (const Layout& l : allLayouts()) a[static_cast<size_t>(l.tag)] = &l;
    return a;
  }();
  return byTag;
}

}  // namespace psdump
