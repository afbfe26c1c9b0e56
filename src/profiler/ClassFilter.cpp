#include "profiler/ClassFilter.h"

#include <cstring>
#include <memory>

namespace {

struct FilterLists {
  std::vector<std::string> include;
  std::vector<std::string> exclude;
};

// Replaced and read through the atomic shared_ptr functions.
std::shared_ptr<const FilterLists> current;

// The agent's own classes are never monitored.
constexpr char kAgentPackage[] = "com/halden/";

const char* const kClassOnly[] = {"com/qel/qs/runtime/Server",
                                  "com/qel/ejs/cm/proxy/HaldenStatementProxy",
                                  "com/qel/ejs/cm/proxy/HaldenPreparedStatementProxy",
                                  "com/qel/ejs/cm/proxy/HaldenCallableStatementProxy"};

// An entry matches a name that starts with the entry less its last character
// (the usual last character is '*'). A one-character entry thus matches every
// name; an empty entry compares the whole texts, so it matches only "".
bool matches(const char* name, const std::string& entry) {
  if (entry.empty()) return *name == '\0';
  return std::strncmp(name, entry.c_str(), entry.size() - 1) == 0;
}

bool anyMatches(const char* name, const std::vector<std::string>& list) {
  for (const std::string& entry : list)
    if (matches(name, entry)) return true;
  return false;
}

}  // namespace

int classFilter(const char* name) {
  if (!name) return FILTER_MONITORED;
  if (std::strncmp(name, kAgentPackage, sizeof kAgentPackage - 1) == 0) return FILTER_EXCLUDED;
  for (const char* special : kClassOnly)
    if (std::strcmp(name, special) == 0) return FILTER_CLASS_ONLY;
  std::shared_ptr<const FilterLists> lists = std::atomic_load(&current);
  if (!lists) return FILTER_MONITORED;
  if (anyMatches(name, lists->include)) return FILTER_MONITORED;
  if (anyMatches(name, lists->exclude)) return FILTER_EXCLUDED;
  return FILTER_MONITORED;
}

void setFilterLists(std::vector<std::string> include, std::vector<std::string> exclude) {
  auto lists = std::make_shared<FilterLists>();
  lists->include = std::move(include);
  lists->exclude = std::move(exclude);
  std::atomic_store(&current, std::shared_ptr<const FilterLists>(std::move(lists)));
}
