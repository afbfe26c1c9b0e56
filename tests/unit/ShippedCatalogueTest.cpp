// The message catalogue installed with the agent (etc/LogMessages) against
// the keys the library logs through: every key is there, and its format takes
// the arguments the code passes (s a text, d or u a number). A mismatch
// replaces the message with the "does not fit" error line on every call.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/Log.h"

TEST(ShippedCatalogue, EveryLoggedKeyIsThereAndFitsItsArguments) {
#ifndef DC_SOURCE_DIR
  GTEST_SKIP() << "the source tree is not known to this build";
#else
  const std::vector<std::pair<const char*, std::string>> logged = {
      {"PROBE_INFO", "s"},         {"PROBE_DEBUG", "s"},
      {"PROBE_DEBUG4", "ssss"},    {"PROBE_CLASS_NAME", "s"},
      {"PROBE_CLASS_DATA", "sud"}, {"PROBE_CLASS_TYPE", "sd"},
      {"PROBE_METHODID_NOT_FOUND", "u"}, {"PROBE_INCLUDE_LIST", "s"},
      {"PROBE_EXCLUDE_LIST", "s"}, {"GC_STATS", "uuuuuu"},
      {"NATIVE_THREADDUMP_INFO", "s"}, {"NATIVE_THREADDUMP_ERROR", "s"},
      {"COMMAND_THREAD_STATUS", "dd"}, {"SETUPGPS_REGMASK", "s"},
      {"SETUPGPS_REGID", "u"},     {"SETUPGPS_GPSMASK", "u"},
      {"INITGPS_FILE", "s"}};
  std::FILE* catalogue = std::fopen(DC_SOURCE_DIR "/etc/LogMessages", "r");
  ASSERT_NE(catalogue, nullptr);
  loadCatalog(catalogue);
  std::fclose(catalogue);
  for (const auto& [key, kinds] : logged) {
    std::vector<LogArg> args;
    for (char kind : kinds) args.push_back(kind == 's' ? LogArg("text") : LogArg(7u));
    char out[2000];
    EXPECT_EQ(formatCatalog(key, args.data(), static_cast<int>(args.size()), out, sizeof out),
              CatalogResult::Formatted)
        << key << " with arguments " << kinds;
  }
  loadCatalog(nullptr);
#endif
}
