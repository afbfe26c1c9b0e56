#include "config/ModFile.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "base/Log.h"
#include "config/Identity.h"
#include "config/ProbeState.h"
#include "platform/os.h"

void runModFileStep() {
  std::unique_ptr<char[]> path(modFileName());
  if (path[0] == '\0') std::snprintf(path.get(), 1024, "%s", "hm.mod");

  char stamp[64];
  os::asctimeNow(stamp, sizeof stamp);
  if (char* nl = std::strchr(stamp, '\n')) *nl = '\0';
  char text[1200];
  formatText(text, sizeof text, "%s\tINFO:[DataCollector] using modfile: '%s'\n", stamp,
             path.get());
  std::fputs(text, stdout);
  std::fflush(stdout);
  logCatalogArgs(LOG_INFO, "PROBE_INFO", static_cast<const char*>(text));

  // Read and created as the library's other own files: a link, FIFO or
  // device at the path is neither followed nor waited on.
  std::string content;
  if (os::readRegularFile(path.get(), 64, &content) == 0) {
    int level = 2;
    if (std::sscanf(content.c_str(), "%d", &level) != 1) level = 2;
    changeModLevel(level);
  } else if (os::replaceFile(path.get(), "2", 1) == 0) {
    changeModLevel(2);
  } else {
    std::fputs("[HM]: INFO:[DataCollector] Failed to write modfile.\n", stdout);
    changeModLevel(2);
  }
  int level = modLevel.load(std::memory_order_relaxed);
  if (level < 1 || level > 3) changeModLevel(2);

  char used[64];
  formatText(used, sizeof used, "Using probe level %d\n", modLevel.load());
  logMessage(LOG_INFO, used);
}
