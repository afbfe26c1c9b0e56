#include "config/PropertyMgr.h"

#include <strings.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/Identity.h"

namespace {
std::atomic<PropertyMgr*> singleton{nullptr};

// A character counts as blank when, taken as a signed byte, it is at most 32:
// spaces, control characters, and bytes 0x80..0xFF at either end.
bool isBlank(char c) {
  return static_cast<signed char>(c) <= 32;
}

// The part of [begin, end) left after trimming blanks at both ends.
void trim(const char*& begin, const char*& end) {
  while (begin < end && isBlank(*begin)) begin++;
  while (end > begin && isBlank(end[-1])) end--;
}
}  // namespace

PropertyMgr::PropertyMgr() : NamedObject("PropertyMgr"), table_(21, true, false), lock_(false) {
  fileName_[0] = '\0';
  loadFile();
}

PropertyMgr::~PropertyMgr() {
  const char** keys = table_.keys();
  for (int i = 0; keys[i]; i++) {
    char* value = table_.get(keys[i]);
    table_.remove(keys[i]);
    std::free(const_cast<char*>(keys[i]));
    std::free(value);
  }
  delete[] keys;
  lock_.destroy();
}

// The first lookup may come from any thread, before start-up made the
// manager (a request native reading its limit, say). Two threads that meet
// no manager both load the file, and only one manager is kept: the other is
// deleted before anyone could see it.
PropertyMgr* PropertyMgr::instance() {
  PropertyMgr* mgr = singleton.load(std::memory_order_acquire);
  if (mgr) return mgr;
  auto* made = new PropertyMgr();
  if (singleton.compare_exchange_strong(mgr, made, std::memory_order_acq_rel)) return made;
  delete made;
  return mgr;
}

PropertyMgr* PropertyMgr::existing() {
  return singleton.load(std::memory_order_acquire);
}

void PropertyMgr::destroyInstance() {
  delete singleton.exchange(nullptr, std::memory_order_acq_rel);
}

void PropertyMgr::start() {
  // Take the lock once so that its raw monitor exists from now on.
  lock_.lock();
  lock_.unlock();
  logInfo("PropertyMgr", __LINE__, "PropertyMgr started.");
}

const char* PropertyMgr::getProperty(const char* key) {
  return key ? table_.get(key) : nullptr;
}

int PropertyMgr::getIntProperty(const char* key, int defaultValue) {
  const char* value = getProperty(key);
  return value ? std::atoi(value) : defaultValue;
}

bool PropertyMgr::putProperty(const char* key, const char* value) {
  if (!key || !value) return false;
  char* valueCopy = strdup(value);
  HalLockGuard guard(lock_);
  char* old = table_.get(key);
  if (old) {
    // The table keeps its own key copy; only the value is replaced.
    table_.put(key, valueCopy);
    std::free(old);
  } else {
    table_.put(strdup(key), valueCopy);
  }
  return true;
}

void PropertyMgr::parseLine(const char* line) {
  if (!line) return;
  const char* begin = line;
  const char* end = line + std::strlen(line);
  trim(begin, end);
  if (begin == end || *begin == '#') return;
  // Split on '=' as strtok would: skip leading '=', the key runs to the next
  // '=', the value is the following run of non-'=' characters.
  const char* p = begin;
  while (p < end && *p == '=') p++;
  const char* keyBegin = p;
  while (p < end && *p != '=') p++;
  const char* keyEnd = p;
  while (p < end && *p == '=') p++;
  if (p == end) return;  // no value
  const char* valueBegin = p;
  while (p < end && *p != '=') p++;
  const char* valueEnd = p;
  trim(keyBegin, keyEnd);
  trim(valueBegin, valueEnd);
  std::string key(keyBegin, keyEnd);
  std::string value(valueBegin, valueEnd);
  putProperty(key.c_str(), value.c_str());
}

bool PropertyMgr::loadFile() {
  if (homeDir[0] == '\0') {
    std::fputs("[HM]: hm.home not found, failed to initialize the Property Manager...\n", stderr);
    return false;
  }
  char defaultPath[256];
  std::snprintf(defaultPath, sizeof defaultPath, "%s/etc/datacollector.properties", homeDir);
  char specificPath[256];
  if (nodeName[0] && serverName[0]) {
    if (profileName[0])
      std::snprintf(specificPath, sizeof specificPath, "%s/etc/%s.%s(%s).datacollector.properties",
                    homeDir, nodeName, serverName, profileName);
    else
      std::snprintf(specificPath, sizeof specificPath, "%s/etc/%s.%s.datacollector.properties",
                    homeDir, nodeName, serverName);
  } else {
    std::snprintf(specificPath, sizeof specificPath, "%s", defaultPath);
  }
  std::snprintf(fileName_, sizeof fileName_, "%s", specificPath);

  FILE* in = std::fopen(specificPath, "r");
  if (in) {
    std::fprintf(stderr, "[HM]: Using property file %s \n", specificPath);
  } else {
    std::fprintf(stderr, "[HM]: Property file not found %s \n", specificPath);
    in = std::fopen(defaultPath, "r");
    if (!in) {
      std::fprintf(stderr, "[HM]: Default Property not found %s\n", defaultPath);
      return false;
    }
    std::fprintf(stderr, "[HM]: Using default property file %s \n", defaultPath);
    std::snprintf(fileName_, sizeof fileName_, "%s", defaultPath);
  }
  // Lines are read in pieces of at most 13 000 bytes; the rest of a longer
  // line is read as the next piece.
  std::vector<char> piece(13000);
  while (std::fgets(piece.data(), static_cast<int>(piece.size()), in)) parseLine(piece.data());
  std::fclose(in);
  return true;
}

const char* getProperty(const char* key) {
  return PropertyMgr::instance()->getProperty(key);
}

int getIntProperty(const char* key, int defaultValue) {
  return PropertyMgr::instance()->getIntProperty(key, defaultValue);
}

bool propertyIsYes(const char* key) {
  const char* value = getProperty(key);
  return value && strcasecmp(value, "YES") == 0;
}
