#include "config/ModFile.h"

#include <cstdio>
#include <cstring>
#include <memory>

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

  if (FILE* in = std::fopen(path.get(), "rt")) {
    int level = 2;
    if (std::fscanf(in, "%d", &level) != 1) level = 2;
    std::fclose(in);
    changeModLevel(level);
  } else if (FILE* out = std::fopen(path.get(), "w")) {
    std::fputs("2", out);
    std::fclose(out);
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
