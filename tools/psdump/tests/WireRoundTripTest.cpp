// The agent's serialiser against the collector-side decoder: a hello packet
// and one data packet holding a record of every layout with edge values
// (widest numbers, negative values, empty and multi-byte texts, encoded
// NULs), written by the library and decoded field by field. The two sides
// share no code, so an agreement here pins the byte form from both ends.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Layouts.h"
#include "StreamDecoder.h"
#include "TestSupport.h"
#include "config/ProbeState.h"
#include "events/EventRecords.h"
#include "events/ProtocolVisitor.h"

namespace {

// "é€" and a text with an encoded NUL, as modified UTF-8.
const std::string kWide = "\xC3\xA9\xE2\x82\xAC";
const std::string kNul = "a\xC0\x80";
// The head every request-like record below carries: depth 263 goes out as its
// low byte.
const std::string H =
    "threadId=4294967295;depth=7;wallSeconds=2147483648;wallMicros=999999;cpuTime=-1;";

// Fields as "name=value;": numbers in decimal, texts as sent, raw bytes in
// hex, lists as [a,b|c,d] with their elements' values.
template <typename Fields>
std::string render(const Fields& fields, const char* sep = ";") {
  std::string out;
  for (const psdump::Field& f : fields) {
    if (*sep == ';') out += std::string(f.name) + "=";
    switch (f.kind) {
      case psdump::Field::Kind::Unsigned:
        out += std::to_string(f.u);
        break;
      case psdump::Field::Kind::Signed:
        out += std::to_string(f.i);
        break;
      case psdump::Field::Kind::Text:
        out += f.bytes;
        break;
      case psdump::Field::Kind::Bytes:
        for (unsigned char c : f.bytes)
          out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
        break;
      case psdump::Field::Kind::List:
        out += "[";
        for (size_t i = 0; i < f.items.size(); i++) out += (i ? "|" : "") + render(f.items[i], ",");
        out += "]";
    }
    out += sep;
  }
  return *sep == ',' ? out.substr(0, out.size() - 1) : out;
}

char* cstr(const std::string& s) {
  return std::strcpy(new char[s.size() + 1], s.c_str());
}

struct Case {
  std::unique_ptr<EventRecord> record;
  const char* layout;
  std::string fields;
};

template <typename R>
R* stamped(R* r) {
  r->threadId = 0xFFFFFFFF;
  r->wallSeconds = 0x80000000;
  r->wallMicros = 999999;
  r->cpuTime = -1;
  return r;
}

template <typename R>
R* deep(R* r) {
  r->depth = 263;
  return stamped(r);
}

RequestRecord* request(RequestRecord* r, const std::string& name, const std::string& app,
                       const std::string& url, const std::string& detail) {
  r->requestName.assign(name.c_str());
  r->applicationName.assign(app.c_str());
  r->url.assign(url.c_str());
  r->detail.assign(detail.c_str());
  return deep(r);
}

std::vector<Case> everyRecord(ClassEntry* entry) {
  std::vector<Case> c;
  auto add = [&c](EventRecord* r, const char* layout, std::string fields) {
    c.push_back({std::unique_ptr<EventRecord>(r), layout, std::move(fields)});
  };
  // An end record: only the head and the MOD level, then the given fields.
  auto end = [&add](auto* r, const char* layout, const std::string& more = "") {
    add(deep(r), layout, H + "mod=3;" + more);
    return r;
  };
  auto load = new ClassRecord(SUBTYPE_CLASS_LOAD);
  load->classEntry = entry;
  add(load, "classLoad",
      "classSeq=4294967295;className=a/B" + kWide +
          ";methodCount=2;methods=[0,<init>,()V|4294967295,,(I)V];");
  auto unload = new ClassRecord(SUBTYPE_CLASS_UNLOAD);
  unload->classEntry = entry;
  add(unload, "classUnload",
      "classSeq=4294967295;classId=77;methodCount=2;methodIds=[0|4294967295];");
  for (int sub : {SUBTYPE_BEGIN, SUBTYPE_END}) {
    auto m = stamped(new MethodEventRecord(sub));
    m->methodId = 0xFFFFFFFF;
    add(m, sub ? "methodExit" : "methodEntry",
        "threadId=4294967295;methodId=4294967295;wallSeconds=2147483648;wallMicros=999999;"
        "cpuTime=-1;");
  }
  // Names equal to the url go out as flag 0 and empty names.
  add(request(new HttpRequestRecord(SUBTYPE_BEGIN), "/u", "/u", "/u", ""), "httpStart",
      H + "namesFlag=0;requestName=;applicationName=;url=/u;detail=;mod=3;");
  add(request(new HttpRequestRecord(SUBTYPE_BEGIN), kWide, kNul, "/u", kWide), "httpStart",
      H + "namesFlag=1;requestName=" + kWide + ";applicationName=" + kNul +
          ";url=/u;detail=" + kWide + ";mod=3;");
  end(new HttpRequestRecord(SUBTYPE_END), "httpFinish");
  end(new HttpRequestRecord(SUBTYPE_ERROR), "httpError");
  // The names are compared with the url before its cut at "?".
  add(request(new EjbRequestRecord(SUBTYPE_BEGIN), "e?x", "e?x", "e?x", ""), "ejbBegin",
      H + "namesFlag=0;requestName=;applicationName=;url=e;mod=3;");
  end(new EjbRequestRecord(SUBTYPE_END), "ejbEnd");
  auto trace = stamped(new TraceRequestRecord(SUBTYPE_SINGLE));
  trace->requestName.assign(kNul.c_str());
  add(trace, "trace", "wallSeconds=2147483648;wallMicros=999999;requestName=" + kNul + ";mod=3;");
  auto sql = deep(new SqlRecord(SUBTYPE_BEGIN));
  sql->dataSourceName.assign(""), sql->sqlText.assign(kWide.c_str());
  add(sql, "sqlBegin", H + "mod=3;dataSourceName=;sqlText=" + kWide + ";");
  end(new SqlRecord(SUBTYPE_END), "sqlEnd");
  add(stamped(new GcRecord(SUBTYPE_BEGIN)), "gcStart",
      "threadId=4294967295;wallSeconds=2147483648;wallMicros=999999;");
  auto gc = stamped(new GcRecord(SUBTYPE_END));
  gc->usedObjects = INT64_MIN, gc->usedObjectSpace = INT64_MAX;
  add(gc, "gcFinish",
      "threadId=4294967295;wallSeconds=2147483648;wallMicros=999999;usedObjects=" +
          std::to_string(INT64_MIN) + ";usedObjectSpace=" + std::to_string(INT64_MAX) +
          ";totalObjectSpace=0;");
  for (int kind = 1; kind <= 4; kind++) {
    auto jms = deep(new JmsRecord(SUBTYPE_BEGIN));
    jms->kind = kind, jms->destination.assign("q");
    jms->text2.assign(""), jms->text3.assign(kWide.c_str());
    add(jms, "jmsBegin",
        H + "destination=q;text2=;" + (kind <= 2 ? "text3=" + kWide + ";" : "") +
            "mod=3;kind=" + std::to_string(kind) + ";");
    end(new JmsRecord(SUBTYPE_END), "jmsEnd", "kind=" + std::to_string(kind) + ";")->kind = kind;
  }
  auto jca = deep(new JcaRecord(SUBTYPE_BEGIN));
  auto jndi = deep(new JndiRecord(SUBTYPE_BEGIN));
  auto mail = deep(new MailRecord(SUBTYPE_BEGIN));
  jca->name.assign(kNul.c_str()), jndi->name.assign("n"), mail->name.assign("");
  jndi->text2.assign(""), mail->text2.assign(kWide.c_str());
  add(jca, "jcaBegin", H + "name=" + kNul + ";mod=3;");
  end(new JcaRecord(SUBTYPE_END), "jcaEnd");
  add(jndi, "jndiBegin", H + "mod=3;name=n;text2=;");
  end(new JndiRecord(SUBTYPE_END), "jndiEnd");
  add(mail, "mailBegin", H + "mod=3;name=;text2=" + kWide + ";");
  end(new MailRecord(SUBTYPE_END), "mailEnd");
  auto rates = new SamplingRatesRecord(SUBTYPE_SINGLE);
  rates->rates[0] = INT32_MIN, rates->rates[3] = INT32_MAX, rates->flag = 1;
  add(rates, "samplingRates",
      "rate1=" + std::to_string(INT32_MIN) + ";rate2=0;rate3=0;rate4=2147483647;flag=1;");
  const char* correlation[] = {"correlationBegin", "correlationEnd", "correlationPoint5",
                               "correlationPoint6"};
  int sub = 0;
  for (const char* layout : correlation) {
    auto r = deep(new CorrelationRequestRecord(sub));
    r->token.assign("\xDE\xAD\xBE\xEF", 4);
    add(r, layout, H + (sub == 0 || sub == 5 ? "token=deadbeef;" : "") + "mod=3;");
    sub = sub == 1 ? 5 : sub + 1;
  }
  auto drop = stamped(new DropNoticeRecord(SUBTYPE_SINGLE));
  drop->counts[0] = -1, drop->counts[5] = INT32_MAX;
  add(drop, "dropNotice",
      "threadId=4294967295;otherBeginDropped=-1;otherEndDropped=0;methodEntryDropped=0;"
      "methodExitDropped=0;sqlBeginDropped=0;sqlEndDropped=2147483647;");
  auto gxr = new GxrRecord(SUBTYPE_SINGLE);
  gxr->text1.assign(""), gxr->text2.assign(kWide.c_str()), gxr->text3.assign("c");
  gxr->value1 = -2, gxr->number = 0xFFFFFFFF;
  add(gxr, "gxr", "text1=;text2=" + kWide + ";text3=c;value1=-2;number=4294967295;value2=0;");
  auto mqi = new MqiRecord(SUBTYPE_SINGLE);
  mqi->text1.assign("x"), mqi->text2.assign(""), mqi->value = INT64_MAX;
  mqi->ops.reset(new uint8_t[2]{0, 255});
  mqi->values.reset(new uint32_t[2]{0xFFFFFFFF, 1});
  mqi->times.reset(new int64_t[2]{-1, 1LL << 40});
  mqi->count = 2;
  add(mqi, "mqi",
      "text1=x;text2=;value=" + std::to_string(INT64_MAX) +
          ";elementCount=2;elements=[0,4294967295,-1|255,1,1099511627776];");
  const char* numbered[] = {"portalLogin", "portalAccessControl"};
  for (int type : {EVENT_PORTAL_LOGIN, EVENT_PORTAL_ACCESS_CONTROL}) {
    auto r = new PortalUserRecord(type, SUBTYPE_SINGLE);
    r->number = 0xFFFFFFFF, r->value = -1;
    add(r, numbered[type - EVENT_PORTAL_LOGIN], "number=4294967295;value=-1;");
  }
  auto vault = new CredentialVaultRecord(SUBTYPE_SINGLE);
  auto content = new ContentAccessRecord(SUBTYPE_SINGLE);
  std::string pairs;
  for (int i = 0; i < 5; i++) {
    vault->counts[i] = static_cast<uint32_t>(i) * 0x40000000u;
    vault->totals[i] = -i;
    if (i < 4) content->counts[i] = vault->counts[i], content->totals[i] = vault->totals[i];
    std::string n = std::to_string(i + 1);
    pairs += "count" + n + "=" + std::to_string(vault->counts[i]) + ";total" + n + "=" +
             std::to_string(-i) + ";";
  }
  add(vault, "credentialVault", pairs);
  add(content, "contentAccess", pairs.substr(0, pairs.find("count5")));
  const char* portals[][2] = {{"portalPageBegin", "portalPageEnd"}, {"portletBegin", "portletEnd"}};
  for (int k = 0; k < 2; k++) {
    int type = EVENT_PORTAL_PAGE + k;
    add(request(new RequestRecord(type, SUBTYPE_BEGIN), "n", "n", "n", kNul), portals[k][0],
        H + "requestName=n;applicationName=n;url=n;detail=" + kNul + ";mod=3;");
    end(new RequestRecord(type, SUBTYPE_END), portals[k][1]);
  }
  auto status = new PsStatusRecord(SUBTYPE_SINGLE);
  status->status.assign(kWide.c_str());
  add(status, "psStatus", "status=" + kWide + ";");
  auto ex = new ExceptionRecord(SUBTYPE_SINGLE);
  ex->text1.assign("1"), ex->text2.assign(""), ex->text3.assign(kNul.c_str()),
      ex->text4.assign("4");
  add(ex, "exception", "text1=1;text2=;text3=" + kNul + ";text4=4;");
  auto mq = deep(new MqRequestRecord(SUBTYPE_BEGIN));
  mq->queueManager.assign("M"), mq->queueName.assign(""), mq->code = 0x1FF;
  add(mq, "mqRequestBegin", H + "queueManager=M;queueName=;code=255;mod=3;");
  add(deep(new MqRequestRecord(SUBTYPE_END)), "mqRequestEnd", H + "code=0;mod=3;");
  for (int op : {7, 10, 11, 13}) {
    const std::string ops = op == 7 || op == 13 ? "7,13" : "10,11";
    auto msg = deep(new MqMessageRecord(SUBTYPE_BEGIN));
    msg->operation = op, msg->messageId.assign("i"), msg->messageLength = 3;
    msg->message.reset(new uint8_t[3]{0x61, 0x00, 0xFF});
    add(msg, "mqMessageBegin",
        H + "messageId=i;message=6100ff;operationIs7=" + (op == 7 ? "1" : "0") +
            ";mod=3;operations=" + ops + ";");
    end(new MqMessageRecord(SUBTYPE_END), "mqMessageEnd", "operations=" + ops + ";")->operation =
        op;
  }
  const char* portalRequests[][2] = {{"portal3Begin", "portal3End"},
                                     {"portal4Begin", "portal4End"}};
  for (int k = 0; k < 2; k++) {
    int type = EVENT_PORTAL_REQUEST_3 + k;
    add(request(new RequestRecord(type, SUBTYPE_BEGIN), "r", kWide, kWide, "not sent"),
        portalRequests[k][0],
        H + "namesFlag=1;requestName=r;applicationName=" + kWide + ";url=" + kWide + ";mod=3;");
    end(new RequestRecord(type, SUBTYPE_END), portalRequests[k][1]);
  }
  auto heap = deep(new HeapAllocationRecord(SUBTYPE_BEGIN));
  heap->allocationId = 0xFFFFFFFF, heap->name.assign(kWide.c_str());
  add(heap, "heapAllocationBegin", H + "number1=4294967295;text=" + kWide + ";number2=0;mod=3;");
  end(new HeapAllocationRecord(SUBTYPE_END), "heapAllocationEnd");
  const char* locks[][2] = {{"lock1Begin", "lock1End"}, {"lock3Begin", "lock3End"}};
  for (int k = 0; k < 2; k++) {
    auto lock = deep(new LockRecord(k ? EVENT_LOCK_3 : EVENT_LOCK_1, SUBTYPE_BEGIN));
    lock->lockId = 1, lock->lockName.assign("");
    add(lock, locks[k][0], H + "lockId=1;lockName=;mod=3;");
    end(new LockRecord(k ? EVENT_LOCK_3 : EVENT_LOCK_1, SUBTYPE_END), locks[k][1]);
  }
  auto detail = deep(new LockDetailRecord(SUBTYPE_BEGIN));
  detail->lockId = 0xFFFFFFFF, detail->flag = 255, detail->number = 8;
  detail->lockName.assign("L"), detail->text1.assign(kNul.c_str()), detail->text2.assign("");
  add(detail, "lock2Begin",
      H + "lockId=4294967295;lockName=L;byteValue=255;text2=" + kNul + ";text3=;number=8;mod=3;");
  end(new LockDetailRecord(SUBTYPE_END), "lock2End");
  const char* gateways[] = {"gatewayServlet", "modelBuilding", "pageLoading"};
  for (int type : {EVENT_GATEWAY_SERVLET, EVENT_MODEL_BUILDING, EVENT_PAGE_LOADING}) {
    auto r = new GatewayRecord(type, SUBTYPE_SINGLE);
    r->number = 0, r->value = INT64_MIN;
    add(r, gateways[type - EVENT_GATEWAY_SERVLET],
        "number=0;value=" + std::to_string(INT64_MIN) + ";");
  }
  return c;
}

TEST(WireRoundTrip, EveryRecordTheAgentWritesDecodesFieldByField) {
  int savedLevel = modLevel.load();
  modLevel = 3;
  ClassEntry entry;
  entry.classId = 77;
  entry.sequenceNumber = 0xFFFFFFFF;
  entry.className.reset(cstr("a/B" + kWide));
  entry.methodCount = 2;
  entry.methods.reset(new MethodRecord[2]);
  entry.methods[0].methodName.reset(cstr("<init>"));
  entry.methods[0].methodSignature.reset(cstr("()V"));
  entry.methods[1].methodId = 0xFFFFFFFF;  // its name could not be copied
  entry.methods[1].methodSignature.reset(cstr("(I)V"));
  std::vector<Case> cases = everyRecord(&entry);

  ProtocolVisitor visitor;
  std::vector<uint8_t> stream(1 << 16);
  WireCursor c(stream.data(), stream.size());
  HelloIdentity id;
  std::snprintf(id.productVersion, sizeof id.productVersion, "%s", "6.0.2");
  std::snprintf(id.commandAgentID, sizeof id.commandAgentID, "%s", "ca");
  std::snprintf(id.nodeName, sizeof id.nodeName, "%s", kNul.c_str());
  std::snprintf(id.appServerName, sizeof id.appServerName, "%s", kWide.c_str());
  id.adminServerPort = -1;
  ASSERT_TRUE(visitor.writeTimeRecord(c, 1700000000123ULL));
  ASSERT_TRUE(visitor.writeIdentityRecord(id, c));
  WireCursor head(c.position(), 7);
  ASSERT_TRUE(visitor.writeCountRecord(static_cast<uint32_t>(cases.size()), head));
  WireCursor body(c.position() + 7, c.remaining() - 7);
  std::set<std::string> layouts;
  for (Case& k : cases) {
    ASSERT_EQ(visitor.writeRecord(k.record.get(), body), WriteResult::Written) << k.layout;
    layouts.insert(k.layout);
  }
  stream.resize(static_cast<size_t>(body.position() - stream.data()));
  modLevel = savedLevel;

  psdump::DecodeResult r = psdump_test::decodeBoth(stream);
  ASSERT_TRUE(r.ok) << r.error.message << " at " << r.error.offset;
  ASSERT_EQ(r.records.size(), 3 + cases.size());
  EXPECT_EQ(render(r.records[0].fields), "platform=1;timeKind=1;millis=1700000000123;");
  EXPECT_EQ(render(r.records[1].fields),
            "code=200;versionMajor=6;versionMinor=0;versionMicro=2;commandAgentId=ca;"
            "clusterName=<NO CLUSTER NAME>;nodeName=" +
                kNul + ";appServerName=" + kWide + ";adminServerPort=4294967295;");
  EXPECT_EQ(r.records[2].unsignedValue("count"), cases.size());
  for (size_t i = 0; i < cases.size(); i++) {
    const psdump::Record& rec = r.records[3 + i];
    const EventRecord& sent = *cases[i].record;
    EXPECT_STREQ(rec.name, cases[i].layout);
    EXPECT_EQ(rec.type, sent.type) << cases[i].layout;
    EXPECT_EQ(rec.subtype, sent.subtype) << cases[i].layout;
    EXPECT_EQ(render(rec.fields), cases[i].fields);
  }
  // Every layout the collector knows is written by the agent.
  std::set<std::string> known;
  for (const psdump::Layout& l : psdump::allLayouts()) known.insert(l.name);
  EXPECT_EQ(layouts, known);
}

}  // namespace
