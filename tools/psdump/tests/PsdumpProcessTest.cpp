// Runs the psdump tool itself: it listens on a loopback port, a test client
// plays the agent, and the JSON lines, the summary and the error messages
// are checked.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Listener.h"
#include "TestSupport.h"
#include "Wire.h"

extern char** environ;

using psdump_test::hex;
using psdump_test::Wire;

namespace {

using Clock = std::chrono::steady_clock;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// One run of the tool with its output in files of a fresh directory.
class PsdumpRun {
 public:
  PsdumpRun() {
    char tmpl[] = "/tmp/psdump-test-XXXXXX";
    const char* made = mkdtemp(tmpl);
    dir_ = made != nullptr ? made : "/tmp";
    portFile_ = dir_ + "/port";
  }
  explicit PsdumpRun(std::vector<std::string> args) : PsdumpRun() { start(std::move(args)); }

  void start(std::vector<std::string> args) {
    std::vector<std::string> argv = {PSDUMP_EXE};
    for (std::string& a : args) {
      if (a == "@PORTFILE") a = portFile_;
      argv.push_back(a);
    }
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(&a[0]);
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (dir_ + "/out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (dir_ + "/err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    spawned_ = posix_spawn(&pid_, cargv[0], &actions, nullptr, cargv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
  }

  ~PsdumpRun() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (const char* f : {"/out", "/err", "/port", "/input"}) unlink((dir_ + f).c_str());
    rmdir(dir_.c_str());
  }

  bool spawned() const { return spawned_; }
  const std::string& dir() const { return dir_; }

  // The port from the port file, or 0 if it did not appear in time.
  int waitForPort() {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
      const std::string text = readFile(portFile_);
      if (!text.empty() && text.back() == '\n') return std::stoi(text);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
  }

  // The exit status, or -1 if the tool did not exit in time.
  int waitForExit(int seconds = 30) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
      int status = 0;
      const pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  void signal(int sig) { kill(pid_, sig); }
  std::string out() const { return readFile(dir_ + "/out"); }
  std::string err() const { return readFile(dir_ + "/err"); }

 private:
  std::string dir_;
  std::string portFile_;
  pid_t pid_ = -1;
  bool spawned_ = false;
  bool exited_ = false;
};

int connectTo(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Sends in small pieces, as a socket may deliver them.
bool sendAll(int fd, const std::vector<uint8_t>& bytes, size_t piece) {
  for (size_t pos = 0; pos < bytes.size();) {
    const size_t n = std::min(piece, bytes.size() - pos);
    const ssize_t sent = send(fd, bytes.data() + pos, n, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    pos += static_cast<size_t>(sent);
  }
  return true;
}

// The lines of one connection, in order; connections are decoded side by
// side, so their lines may interleave.
std::vector<std::string> linesOf(const std::vector<std::string>& all, int conn) {
  std::vector<std::string> out;
  const std::string prefix = "{\"conn\":" + std::to_string(conn) + ",";
  for (const std::string& line : all) {
    if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
  }
  return out;
}

const char kMethodEntry27[] =
    "02 00 00 00 01 00 00 00 05 00 00 00 01 00 00 07 D0 00 00 00 00 00 00 00 03 7F 7F";

Wire helloPacket() {
  Wire w;
  w.raw(hex("00 00 07 D0 64 01 01 00 00 01 8B CF E5 68 7B 7F 7F 65 C8 06 00 02"));
  w.text("agent-7").text("<NO CLUSTER NAME>").text("node1").text("server1").u32(9090).end();
  return w;
}

Wire agentSession() {
  Wire w = helloPacket();
  w.packet(3).raw(hex(kMethodEntry27));
  w.u8(4).head(9, 1, 10, 20, 30).u8(1).text("req").text("app").text("/u").text("").u8(2).end();
  w.u8(5).head(9, 0, 11, 21, 31).u8(2).end();
  return w;
}

TEST(PsdumpTool, DecodesConnectionsOneAfterAnotherAndSummarises) {
  PsdumpRun run({"--host", "127.0.0.1", "--port", "0", "--port-file", "@PORTFILE", "--summary",
                 "--max-connections", "2", "--duration", "60"});
  ASSERT_TRUE(run.spawned());
  const int port = run.waitForPort();
  ASSERT_GT(port, 0) << run.err();

  const Wire session = agentSession();
  int fd = connectTo(port);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(sendAll(fd, session.b, 5));
  close(fd);

  // The agent reconnects; this time the stream goes wrong in the second record.
  Wire bad;
  bad.packet(2).raw(hex(kMethodEntry27)).u8(99).raw(hex(kMethodEntry27));
  fd = connectTo(port);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(sendAll(fd, bad.b, 1000));
  close(fd);

  ASSERT_EQ(run.waitForExit(), psdump::kExitMalformed) << run.err();
  const std::vector<std::string> all = lines(run.out());
  ASSERT_EQ(all.size(), 9u) << run.out();
  const std::vector<std::string> out = linesOf(all, 1);
  ASSERT_EQ(out.size(), 6u) << run.out();
  EXPECT_CONTAINS(out[0], "{\"conn\":1,\"packet\":1,\"packetKind\":\"hello\",\"offset\":4,");
  EXPECT_CONTAINS(out[0],
                  "\"record\":\"time\",\"platform\":1,\"timeKind\":1,"
                  "\"millis\":1700000000123}");
  EXPECT_CONTAINS(out[1],
                  "\"record\":\"identity\",\"code\":200,\"versionMajor\":6,"
                  "\"versionMinor\":0,\"versionMicro\":2,\"commandAgentId\":\"agent-7\","
                  "\"clusterName\":\"<NO CLUSTER NAME>\",\"nodeName\":\"node1\","
                  "\"appServerName\":\"server1\",\"adminServerPort\":9090}");
  const size_t hello = helloPacket().size();
  EXPECT_EQ(out[3], "{\"conn\":1,\"packet\":2,\"packetKind\":\"data\",\"offset\":" +
                        std::to_string(hello + 7) +
                        ",\"index\":1,\"tag\":2,\"record\":\"methodEntry\",\"type\":3,"
                        "\"subtype\":0,\"threadId\":1,\"methodId\":5,\"wallSeconds\":1,"
                        "\"wallMicros\":2000,\"cpuTime\":3}");
  EXPECT_CONTAINS(out[4], "\"record\":\"httpStart\"");
  EXPECT_CONTAINS(out[4],
                  "\"namesFlag\":1,\"requestName\":\"req\",\"applicationName\":\"app\","
                  "\"url\":\"/u\",\"detail\":\"\",\"mod\":2}");
  EXPECT_CONTAINS(out[5], "\"record\":\"httpFinish\"");
  const std::vector<std::string> second = linesOf(all, 2);
  ASSERT_EQ(second.size(), 2u) << run.out();
  EXPECT_CONTAINS(second[0], "{\"conn\":2,\"packet\":1,\"packetKind\":\"data\",\"offset\":0,");
  EXPECT_CONTAINS(second[1], "{\"conn\":2,\"packet\":1,\"packetKind\":\"data\",\"offset\":7,");
  const std::string& summary = all.back();
  EXPECT_CONTAINS(summary, "{\"summary\":{\"connections\":2,\"malformedConnections\":1,\"bytes\":" +
                               std::to_string(session.size() + bad.size()) +
                               ",\"helloPackets\":1,\"dataPackets\":2,\"records\":4,");
  EXPECT_CONTAINS(summary, "\"byType\":{\"3\":2,\"4\":2}");
  EXPECT_CONTAINS(summary, "\"byThread\":{\"1\":2,\"9\":2}");
  EXPECT_CONTAINS(run.err(), "psdump: listening on 127.0.0.1:" + std::to_string(port));
  EXPECT_CONTAINS(run.err(),
                  "psdump: connection 2: malformed input: unknown record tag 99 (0x63) at byte "
                  "offset 34, record 2 of 2 of packet 1 at byte offset 0; connection dropped");
}

TEST(PsdumpTool, SigtermStopsItAndPrintsTheSummary) {
  PsdumpRun run({"--port", "0", "--port-file", "@PORTFILE", "--summary", "--duration", "60"});
  ASSERT_TRUE(run.spawned());
  const int port = run.waitForPort();
  ASSERT_GT(port, 0) << run.err();
  Wire w;
  w.packet(2).raw(hex(kMethodEntry27)).raw({0x02, 0x00});  // the second record is cut
  const int fd = connectTo(port);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(sendAll(fd, w.b, 1000));
  // Wait until the first record is out, then stop the tool while the
  // connection is still open in the middle of a record.
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (lines(run.out()).size() < 2 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  run.signal(SIGTERM);
  EXPECT_EQ(run.waitForExit(), psdump::kExitOk) << run.err();
  close(fd);
  const std::vector<std::string> out = lines(run.out());
  ASSERT_EQ(out.size(), 3u) << run.out();
  EXPECT_CONTAINS(out[2],
                  "{\"summary\":{\"connections\":1,\"malformedConnections\":0,\"bytes\":36,");
  EXPECT_CONTAINS(run.err(),
                  "connection 1: stopped inside a packet: stream ended at byte offset 36 inside "
                  "record 'methodEntry' (tag 2) that starts at byte offset 34");
}

TEST(PsdumpTool, RefusesAddressesOtherThanLoopback) {
  PsdumpRun run({"--host", "0.0.0.0", "--port", "0"});
  ASSERT_TRUE(run.spawned());
  EXPECT_EQ(run.waitForExit(), psdump::kExitSetup);
  EXPECT_CONTAINS(run.err(), "refusing to listen on '0.0.0.0'");
  EXPECT_EQ(run.out(), "");
}

TEST(PsdumpTool, DecodesACapturedStreamFromAFile) {
  PsdumpRun run;
  const std::string input = run.dir() + "/input";
  const Wire session = agentSession();
  std::ofstream(input, std::ios::binary)
      .write(reinterpret_cast<const char*>(session.b.data()),
             static_cast<std::streamsize>(session.size()));
  run.start({"--input", input, "--summary"});
  ASSERT_TRUE(run.spawned());
  EXPECT_EQ(run.waitForExit(), psdump::kExitOk) << run.err();
  const std::vector<std::string> out = lines(run.out());
  ASSERT_EQ(out.size(), 7u) << run.out();
  EXPECT_CONTAINS(out[6], "\"records\":3,");
}

TEST(PsdumpLoopback, OnlyLoopbackAddressesAreAccepted) {
  uint32_t a = 0;
  EXPECT_TRUE(psdump::parseLoopback("127.0.0.1", a));
  EXPECT_EQ(a, 0x7F000001u);
  EXPECT_TRUE(psdump::parseLoopback("127.10.20.30", a));
  EXPECT_TRUE(psdump::parseLoopback("localhost", a));
  EXPECT_EQ(a, 0x7F000001u);
  for (const char* host :
       {"0.0.0.0", "10.0.0.1", "128.0.0.1", "::1", "", "127.0.0.1 ", "127.1", "example.org"}) {
    EXPECT_FALSE(psdump::parseLoopback(host, a)) << host;
  }
}

}  // namespace
