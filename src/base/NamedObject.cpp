#include "base/NamedObject.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/Log.h"

NamedObject::NamedObject(const char* name) : name_(name ? strdup(name) : nullptr) {}

NamedObject::~NamedObject() {
  std::free(name_);
}

void NamedObject::log(int level, const char* unit, int line, const char* text) const {
  // Filter before formatting: a suppressed line costs one comparison.
  if (level > logLevel.load(std::memory_order_relaxed)) return;
  char buffer[3000];
  std::snprintf(buffer, sizeof buffer, "[%s (%s@%d)] %s \n", name_ ? name_ : "NULL",
                unit ? unit : "", line, text ? text : "");
  logMessage(level, buffer);
}

void NamedObject::logDebug(const char* unit, int line, const char* text) const {
  log(LOG_DEBUG, unit, line, text);
}
void NamedObject::logInfo(const char* unit, int line, const char* text) const {
  log(LOG_INFO, unit, line, text);
}
void NamedObject::logWarning(const char* unit, int line, const char* text) const {
  log(LOG_WARNING, unit, line, text);
}
void NamedObject::logError(const char* unit, int line, const char* text) const {
  log(LOG_ERROR, unit, line, text);
}

void NamedObject::logf(int level, const char* unit, int line, const char* fmt, ...) const {
  if (level > logLevel.load(std::memory_order_relaxed)) return;
  char text[3000];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  log(level, unit, line, text);
}
