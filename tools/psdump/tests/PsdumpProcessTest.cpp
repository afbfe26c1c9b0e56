// The psdump tool itself, listening on a loopback port with a test client
// playing the agent.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Listener.h"
#include "TestSupport.h"
#include "Wire.h"

extern char** environ;

using psdump_test::hex;
using psdump_test::kMethodEntry27;
using psdump_test::Wire;

namespace {

std::string readFile(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

bool waitUntil(const std::function<bool()>& done, int seconds = 30) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// One run of the tool in a fresh directory: "@name" arguments name files
// there, `input` is written to "@input" first; output goes to files.
struct PsdumpRun {
  std::string dir;
  pid_t pid = -1;
  int status = -1;

  explicit PsdumpRun(const std::vector<std::string>& args, const std::vector<uint8_t>& input = {}) {
    char tmpl[] = "/tmp/psdump-test-XXXXXX";
    dir = mkdtemp(tmpl) != nullptr ? tmpl : "/tmp";
    std::ofstream(dir + "/input", std::ios::binary)
        .write(reinterpret_cast<const char*>(input.data()),
               static_cast<std::streamsize>(input.size()));
    std::string command = "exec " PSDUMP_EXE;
    for (const std::string& a : args)
      command += " '" + (a[0] == '@' ? dir + "/" + a.substr(1) : a) + "'";
    command += " >" + dir + "/out 2>" + dir + "/err";
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
      pid = -1;
  }
  ~PsdumpRun() {
    if (pid > 0 && status < 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    for (const char* f : {"/out", "/err", "/port", "/input"}) unlink((dir + f).c_str());
    rmdir(dir.c_str());
  }
  // The port from the port file, or 0 if it did not appear in time.
  int port() {
    std::string text;
    return waitUntil(
               [&] { return !(text = readFile(dir + "/port")).empty() && text.back() == '\n'; })
               ? std::stoi(text)
               : 0;
  }
  // The exit status, or -1 if the tool did not exit in time.
  int exitCode() {
    waitUntil([&] {
      int s = 0;
      if (waitpid(pid, &s, WNOHANG) == pid)
        status = WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
      return status >= 0;
    });
    return status;
  }
  std::string out() const { return readFile(dir + "/out"); }
  std::string err() const { return readFile(dir + "/err"); }
};

// Connects to the port and sends the bytes in pieces, as a socket may
// deliver them; returns the open socket, or -1.
int sendTo(int port, const std::vector<uint8_t>& bytes, size_t piece) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return close(fd), -1;
  for (size_t pos = 0; pos < bytes.size();) {
    const ssize_t sent =
        send(fd, bytes.data() + pos, std::min(piece, bytes.size() - pos), MSG_NOSIGNAL);
    if (sent <= 0) return close(fd), -1;
    pos += static_cast<size_t>(sent);
  }
  return fd;
}

// The lines of one connection, in order; connections are decoded side by
// side, so their lines may interleave.
std::vector<std::string> linesOf(const std::vector<std::string>& all, int conn) {
  std::vector<std::string> out;
  const std::string prefix = "{\"conn\":" + std::to_string(conn) + ",";
  for (const std::string& line : all)
    if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
  return out;
}

const char kHello[] = "00 00 07 D0 64 01 01 00 00 01 8B CF E5 68 7B 7F 7F 65 C8 06 00 02";

TEST(PsdumpTool, DecodesConnectionsOneAfterAnotherAndCapturedFilesAndSummarises) {
  PsdumpRun run({"--host", "127.0.0.1", "--port", "0", "--port-file", "@port", "--summary",
                 "--max-connections", "2", "--duration", "60"});
  const int port = run.port();
  ASSERT_GT(port, 0) << run.err();
  Wire session;
  session.raw(hex(kHello)).text("agent-7").text("<NO CLUSTER NAME>").text("n").text("s");
  session.u32(9).end();
  const size_t hello = session.size();
  session.packet(3).raw(hex(kMethodEntry27));
  session.u8(4).head(9, 1, 10, 20, 30).u8(1).text("req").text("app").text("/u").text("");
  session.u8(2).end();
  session.u8(5).head(9, 0, 11, 21, 31).u8(2).end();
  int fd = sendTo(port, session.b, 5);
  ASSERT_GE(fd, 0);
  close(fd);
  // The agent reconnects; this time the stream goes wrong in the second record.
  Wire bad;
  bad.packet(2).raw(hex(kMethodEntry27)).u8(99).raw(hex(kMethodEntry27));
  ASSERT_GE(fd = sendTo(port, bad.b, 1000), 0);
  close(fd);

  ASSERT_EQ(run.exitCode(), psdump::kExitMalformed) << run.err();
  const std::vector<std::string> all = lines(run.out());
  ASSERT_EQ(all.size(), 9u) << run.out();
  const std::vector<std::string> out = linesOf(all, 1), second = linesOf(all, 2);
  ASSERT_EQ(out.size(), 6u) << run.out();
  EXPECT_CONTAINS(out[0], "{\"conn\":1,\"packet\":1,\"packetKind\":\"hello\",\"offset\":4,");
  EXPECT_EQ(out[3], "{\"conn\":1,\"packet\":2,\"packetKind\":\"data\",\"offset\":" +
                        std::to_string(hello + 7) +
                        ",\"index\":1,\"tag\":2,\"record\":\"methodEntry\",\"type\":3,"
                        "\"subtype\":0,\"threadId\":1,\"methodId\":5,\"wallSeconds\":1,"
                        "\"wallMicros\":2000,\"cpuTime\":3}");
  EXPECT_CONTAINS(out[5], "\"record\":\"httpFinish\"");
  ASSERT_EQ(second.size(), 2u) << run.out();
  EXPECT_CONTAINS(second[1], "{\"conn\":2,\"packet\":1,\"packetKind\":\"data\",\"offset\":7,");
  EXPECT_CONTAINS(all.back(),
                  "{\"summary\":{\"connections\":2,\"malformedConnections\":1,\"bytes\":" +
                      std::to_string(session.size() + bad.size()) +
                      ",\"helloPackets\":1,\"dataPackets\":2,\"records\":4,");
  EXPECT_CONTAINS(run.err(), "psdump: listening on 127.0.0.1:" + std::to_string(port));
  EXPECT_CONTAINS(run.err(),
                  "psdump: connection 2: malformed input: unknown record tag 99 (0x63) at byte "
                  "offset 34, record 2 of 2 of packet 1 at byte offset 0; connection dropped");

  // The same session captured in a file decodes to the same lines.
  PsdumpRun file({"--input", "@input", "--summary"}, session.b);
  EXPECT_EQ(file.exitCode(), psdump::kExitOk) << file.err();
  const std::vector<std::string> fromFile = lines(file.out());
  ASSERT_EQ(fromFile.size(), 7u) << file.out();
  EXPECT_EQ(std::vector<std::string>(fromFile.begin(), fromFile.end() - 1), out);
  EXPECT_CONTAINS(fromFile[6], "\"records\":3,");
  // --summary-only prints that summary alone.
  PsdumpRun counts({"--input", "@input", "--summary-only"}, session.b);
  EXPECT_EQ(counts.exitCode(), psdump::kExitOk) << counts.err();
  EXPECT_EQ(counts.out(), fromFile[6] + "\n");
}

TEST(PsdumpTool, SigtermStopsItAndPrintsTheSummary) {
  PsdumpRun run({"--port", "0", "--port-file", "@port", "--summary", "--duration", "60"});
  const int port = run.port();
  ASSERT_GT(port, 0) << run.err();
  Wire w;
  w.packet(2).raw(hex(kMethodEntry27)).raw({0x02, 0x00});  // the second record is cut
  const int fd = sendTo(port, w.b, 1000);
  ASSERT_GE(fd, 0);
  // Once the first record is out, stop the tool in the middle of a record.
  waitUntil([&] { return lines(run.out()).size() >= 2; });
  kill(run.pid, SIGTERM);
  EXPECT_EQ(run.exitCode(), psdump::kExitOk) << run.err();
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
  EXPECT_EQ(run.exitCode(), psdump::kExitSetup);
  EXPECT_CONTAINS(run.err(), "refusing to listen on '0.0.0.0'");
  EXPECT_EQ(run.out(), "");
  uint32_t a = 0;
  EXPECT_TRUE(psdump::parseLoopback("127.10.20.30", a));
  EXPECT_TRUE(psdump::parseLoopback("localhost", a));
  EXPECT_EQ(a, 0x7F000001u);
  for (const char* host :
       {"0.0.0.0", "10.0.0.1", "128.0.0.1", "::1", "", "127.0.0.1 ", "127.1", "example.org"})
    EXPECT_FALSE(psdump::parseLoopback(host, a)) << host;
}

// The OTLP export is a module psdump loads from its own directory for
// --otlp only: found there it runs; a psdump without it says so and fails.
TEST(PsdumpTool, LoadsTheOtlpExportFromItsOwnDirectory) {
  PsdumpRun run({"--input", "@input", "--otlp", "http://127.0.0.1:1/v1/traces", "--otlp-drain",
                 "0"});
  EXPECT_EQ(run.exitCode(), psdump::kExitOk) << run.err();
  EXPECT_CONTAINS(run.err(), "otlp: 0 traces (0 spans) sent in 0 posts");

  PsdumpRun alone({"--help"});
  ASSERT_EQ(alone.exitCode(), psdump::kExitOk);
  const std::string copy = alone.dir + "/psdump";
  const std::string command = "cp " PSDUMP_EXE " " + copy + " && " + copy + " --input " +
                              alone.dir + "/input --otlp http://127.0.0.1:1/v1/traces 2>" +
                              alone.dir + "/err";
  const int status = std::system(command.c_str());
  unlink(copy.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), psdump::kExitSetup);
  EXPECT_CONTAINS(alone.err(), "--otlp http://127.0.0.1:1/v1/traces: cannot load the OTLP module");
}

}  // namespace
