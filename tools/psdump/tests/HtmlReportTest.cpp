// psdump --requests --html on a captured stream whose texts hold markup,
// control bytes and broken UTF-8.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "RecordStream.h"
#include "TestSupport.h"

using psdump_test::Stream;

namespace {

const char kScriptUrl[] = "/search?q=<script>alert(1)</script>";

struct Command {
  int status = -1;
  std::string out;
};

// Runs a shell command; its standard output, standard error discarded.
Command run(const std::string& command) {
  Command c;
  FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
  if (p == nullptr) return c;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) c.out.append(buf, n);
  const int status = pclose(p);
  c.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return c;
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string dir, out, html;
int status = -1;

class HtmlReport : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/psdump-html-XXXXXX";
    dir = mkdtemp(tmpl);
    Stream s;
    s.httpStart(1, 1, 0, 10, kScriptUrl, "</title><b>App & \"co\" 'x'").end(5, 1, 1, 30, 20);
    s.httpStart(1, 1, 40, 30, std::string("/ctl\x01/bad\xff/nul\xc0\x80/") + "caf\xc3\xa9");
    s.sqlBegin(1, 2, 41, 35, "SELECT 1 /* ]]> <!-- */").end(10, 1, 2, 45, 40).end(50, 1, 1, 90, 60);
    for (uint32_t i = 0; i < 5; ++i)
      s.httpStart(2, 1, 100 + i * 10, 0, "/plain").end(5, 2, 1, 104 + i * 12, 0);
    s.httpStart(3, 1, 200, 0, "/open").drop(0, 0);
    const std::vector<uint8_t> bytes = s.bytes();
    std::ofstream(dir + "/capture", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const Command c = run(std::string(PSDUMP_EXE) + " --input " + dir +
                          "/capture --requests --html " + dir + "/report.html");
    status = c.status;
    out = c.out;
    std::stringstream page;
    page << std::ifstream(dir + "/report.html", std::ios::binary).rdbuf();
    html = page.str();
  }
  static void TearDownTestSuite() {
    for (const char* f : {"/capture", "/report.html", "/check.py"}) unlink((dir + f).c_str());
    rmdir(dir.c_str());
  }
};

TEST_F(HtmlReport, PageIsWellFormedAndWireTextsStayText) {
  ASSERT_EQ(status, 0);
  EXPECT_CONTAINS(out, "requests: 7 finished, 1 still open at the end\n");
  EXPECT_CONTAINS(out, "/ctl?/bad");  // the terminal table shows no control byte
  ASSERT_FALSE(html.empty());
  std::ofstream(dir + "/check.py") << R"(
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
tags = {el.tag.split('}')[-1] for el in root.iter()}
assert not tags & {'script', 'iframe', 'object', 'embed', 'link', 'img', 'b'}, tags
text = ''.join(root.itertext())
assert '<script>alert(1)</script>' in text
assert '</title><b>App & "co" \'x\'' in text
assert '/ctl\ufffd/bad\ufffd/nul\ufffd/caf\u00e9' in text
assert 'SELECT 1 /* ]]> <!-- */' in text
for el in root.iter():
    for name, value in el.attrib.items():
        assert not name.lower().startswith('on') and 'javascript:' not in value, (name, value)
print(sum(1 for el in root.iter() if el.tag.endswith('svg') and el.get('class') == 'histogram'))
)";
  const Command c = run("python3 " + dir + "/check.py " + dir + "/report.html");
  EXPECT_EQ(c.status, 0) << c.out;
  EXPECT_EQ(c.out, "3\n");  // /plain, the script URL and the failing one
  EXPECT_EQ(html.find("http://"), html.find("http://www.w3.org/2000/svg"));
  EXPECT_EQ(html.find("<script"), std::string::npos);
}

TEST_F(HtmlReport, HeadlessBrowserRendersTheHistograms) {
  if (run("command -v chromium").status != 0) {
    GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it)";
  }
  char tmpl[] = "/tmp/psdump-chromium-XXXXXX";
  const std::string profile = mkdtemp(tmpl);
  const Command c =
      run("timeout 90 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
          "--disable-background-networking --disable-component-update --disable-sync "
          "--user-data-dir=" +
          profile + " --dump-dom file://" + dir + "/report.html");
  run("rm -rf " + profile);
  ASSERT_EQ(c.status, 0);
  EXPECT_EQ(occurrences(c.out, "class=\"histogram\""), 3u);
  EXPECT_EQ(occurrences(c.out, "class=\"timeline\""), 7u);
  EXPECT_GT(occurrences(c.out, "<rect class=\"bar\""), 0u);
  EXPECT_CONTAINS(c.out, "&lt;script&gt;alert(1)&lt;/script&gt;");
  EXPECT_EQ(c.out.find("<script"), std::string::npos);
}

}  // namespace
