// The message catalogue installed with the agent (etc/LogMessages) against
// the keys the library logs through: every key exists there, and its format
// takes the arguments the code passes. A mismatch would replace the message
// with the "does not fit" error line on every call.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/Log.h"

namespace {

// Each key the code logs through, with the kinds of the arguments it passes:
// s a text, d a signed and u an unsigned number.
struct Logged {
  const char* key;
  const char* kinds;
};
const Logged kLogged[] = {
    {"PROBE_INFO", "s"},
    {"PROBE_DEBUG", "s"},
    {"PROBE_DEBUG4", "ssss"},
    {"PROBE_CLASS_NAME", "s"},
    {"PROBE_CLASS_DATA", "sud"},
    {"PROBE_CLASS_TYPE", "sd"},
    {"PROBE_METHODID_NOT_FOUND", "u"},
    {"PROBE_INCLUDE_LIST", "s"},
    {"PROBE_EXCLUDE_LIST", "s"},
    {"GC_STATS", "uuuuuu"},
    {"NATIVE_THREADDUMP_INFO", "s"},
    {"NATIVE_THREADDUMP_ERROR", "s"},
    {"COMMAND_THREAD_STATUS", "dd"},
    {"SETUPGPS_REGMASK", "s"},
    {"SETUPGPS_REGID", "u"},
    {"SETUPGPS_GPSMASK", "u"},
    {"INITGPS_FILE", "s"},
};

bool isKeyShaped(const std::string& text) {
  if (text.empty() || text[0] < 'A' || text[0] > 'Z' || text.find('_') == std::string::npos)
    return false;
  for (char c : text) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

// The key-shaped string literals of the sources that stand in a logging call
// (a statement that calls a log function or hands the key to one).
std::set<std::string> keysLoggedBySources(const std::string& sourceDir) {
  std::set<std::string> keys;
  for (const auto& file : std::filesystem::recursive_directory_iterator(sourceDir)) {
    if (file.path().extension() != ".cpp") continue;
    std::ifstream in(file.path());
    std::stringstream text;
    text << in.rdbuf();
    const std::string source = text.str();
    for (size_t open = source.find('"'); open != std::string::npos;) {
      size_t close = source.find('"', open + 1);
      if (close == std::string::npos) break;
      std::string literal = source.substr(open + 1, close - open - 1);
      size_t statement = source.find_last_of(";{}", open);
      std::string before = source.substr(statement == std::string::npos ? 0 : statement + 1,
                                         open - (statement == std::string::npos ? 0 : statement));
      if (isKeyShaped(literal) &&
          (before.find("log") != std::string::npos || before.find("copyList(") != std::string::npos))
        keys.insert(literal);
      open = source.find('"', close + 1);
    }
  }
  return keys;
}

}  // namespace

TEST(ShippedCatalogue, EveryLoggedKeyIsThereAndFitsItsArguments) {
#ifndef DC_SOURCE_DIR
  GTEST_SKIP() << "the source tree is not known to this build";
#else
  std::FILE* catalogue = std::fopen(DC_SOURCE_DIR "/etc/LogMessages", "r");
  ASSERT_NE(catalogue, nullptr);
  loadCatalog(catalogue);
  std::fclose(catalogue);

  std::set<std::string> listed;
  for (const Logged& logged : kLogged) {
    listed.insert(logged.key);
    std::vector<LogArg> args;
    for (const char* kind = logged.kinds; *kind; kind++) {
      if (*kind == 's') args.emplace_back("text");
      if (*kind == 'd') args.emplace_back(-7);
      if (*kind == 'u') args.emplace_back(7u);
    }
    char out[2000];
    EXPECT_EQ(formatCatalog(logged.key, args.data(), static_cast<int>(args.size()), out,
                            sizeof out),
              CatalogResult::Formatted)
        << logged.key << " with arguments " << logged.kinds;
  }
  loadCatalog(nullptr);

  for (const std::string& key : keysLoggedBySources(DC_SOURCE_DIR "/src"))
    EXPECT_TRUE(listed.count(key)) << key << " is logged but not in the table of this test";
#endif
}
