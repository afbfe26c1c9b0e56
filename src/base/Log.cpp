#include "base/Log.h"
#include "base/LogTestAccess.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/os.h"

std::atomic<int> logLevel{LOG_INFO};

namespace {

struct CatalogEntry {
  std::string key;
  bool hasFormat;
  std::string format;
};

// Loaded once by openLog, read without a lock afterwards, freed by closeLog.
std::atomic<std::vector<CatalogEntry>*> catalog{nullptr};
std::atomic<FILE*> logStream{nullptr};
std::atomic<char*> logName{nullptr};
bool catalogLoadDone = false;

// Loggers run on any thread at any time, also while closeLog runs. Each
// counts itself in, under the current generation, before it loads the stream
// or the catalogue, and out when it no longer uses them. closeLog takes both
// away, moves to the next generation and frees them once the loggers counted
// under the generation before have left; a logger that starts after that
// sees neither and writes to standard output. Loggers that start meanwhile
// count under the new generation, so a steady stream of lines cannot keep the
// close waiting.
std::atomic<int> generation{0};
std::atomic<int> loggersInside[2] = {{0}, {0}};

class LoggerInside {
 public:
  // Counted in only when the generation did not move meanwhile: a close that
  // moves it on then waits for this logger.
  LoggerInside() {
    for (;;) {
      int seen = generation.load();
      slot_ = seen & 1;
      loggersInside[slot_].fetch_add(1);
      if (generation.load() == seen) return;
      loggersInside[slot_].fetch_sub(1);
    }
  }
  ~LoggerInside() { loggersInside[slot_].fetch_sub(1); }

 private:
  int slot_;
};

void waitForLoggers() {
  int before = generation.fetch_add(1) & 1;
  while (loggersInside[before].load() != 0) os::sleepMillis(1);
}

const char* lineFormat(int level) {
  switch (level) {
    case LOG_ERROR:
      return "%s ##ERROR: %s \n";
    case LOG_WARNING:
      return "%s WARNING: %s \n";
    case LOG_INFO:
      return "%s INFO: %s \n";
    case LOG_DEBUG:
      return "%s DEBUG: %s \n";
    case LOG_TRACE:
      return "%s TRACE: %s \n";
    default:
      return "%s UNKNOW: %s \n";
  }
}

// Reads the catalogue lines (pieces of at most 10 000 bytes) up to end of file
// or the first line that starts with '#'.
std::vector<CatalogEntry>* readCatalog(FILE* in) {
  auto* entries = new std::vector<CatalogEntry>();
  std::vector<char> line(10000);
  while (std::fgets(line.data(), static_cast<int>(line.size()), in)) {
    if (line[0] == '#') break;
    const char* eq = std::strchr(line.data(), '=');
    if (eq) {
      entries->push_back({std::string(line.data(), eq - line.data()), true, std::string(eq + 1)});
    } else {
      entries->push_back({std::string(line.data()), false, std::string()});
    }
  }
  return entries;
}

// Reads one run of decimal digits of a width or precision. The value is kept
// at most kMaxField: a field wider than the 2000-byte line is cut anyway, and
// a huge one would make the C library pad for seconds or fail outright.
constexpr int kMaxField = 2048;
int readField(const char*& p) {
  int value = 0;
  while (*p >= '0' && *p <= '9') {
    if (value < kMaxField) value = value * 10 + (*p - '0');
    p++;
  }
  return value < kMaxField ? value : kMaxField;
}

// Fills a catalogue format with the caller's arguments into out. Each
// conversion takes the next argument of a matching kind; a format that asks
// for more arguments than were given, for an argument of another kind, or for
// anything this formatter does not know ("%n", "*" widths) is refused.
bool fillFormat(char* out, int size, const char* format, const LogArg* args, int argCount) {
  if (!out || size <= 0) return false;
  int used = 0;
  int next = 0;
  auto put = [&](const char* text, size_t len) {
    if (used >= size - 1) return;
    size_t room = static_cast<size_t>(size - 1 - used);
    if (len > room) len = room;
    std::memcpy(out + used, text, len);
    used += static_cast<int>(len);
  };
  const char* p = format;
  while (*p) {
    if (*p != '%') {
      const char* q = std::strchr(p, '%');
      size_t len = q ? static_cast<size_t>(q - p) : std::strlen(p);
      put(p, len);
      p += len;
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      put("%", 1);
      p++;
      continue;
    }
    // flags, width, precision
    while (*p && std::strchr("-+ #0", *p)) p++;
    std::string spec(start, p - start);
    if (*p >= '0' && *p <= '9') spec += std::to_string(readField(p));
    if (*p == '.') {
      p++;
      spec += '.';
      spec += std::to_string(readField(p));
    }
    // length modifiers are dropped: each argument is formatted at its own size
    while (*p && std::strchr("hlLqjzt", *p)) p++;
    char conv = *p;
    if (conv == '\0' || next >= argCount) return false;
    const LogArg& arg = args[next++];
    char piece[kMaxField + 16];
    int written = -1;
    switch (conv) {
      case 's':
        if (arg.kind != LogArg::Str) return false;
        spec += 's';
        written = std::snprintf(piece, sizeof piece, spec.c_str(), arg.s ? arg.s : "(null)");
        break;
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
      case 'o':
      case 'c':
        if (arg.kind == LogArg::Str) return false;
        if (conv == 'c') {
          spec += 'c';
          written = std::snprintf(piece, sizeof piece, spec.c_str(), static_cast<int>(arg.i));
        } else {
          spec += "ll";
          spec += conv;
          written = std::snprintf(piece, sizeof piece, spec.c_str(), arg.i);
        }
        break;
      default:
        return false;
    }
    if (written < 0) return false;
    put(piece, std::strlen(piece));
    p++;
  }
  out[used] = '\0';
  return true;
}

}  // namespace

void formatText(char* out, int size, const char* fmt, ...) {
  if (!out || size <= 0) return;
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(out, static_cast<size_t>(size), fmt, ap);
  va_end(ap);
}

void logMessage(int level, const char* text) {
  if (level > logLevel.load(std::memory_order_relaxed)) return;
  LoggerInside inside;
  FILE* out = logStream.load();
  if (!out) out = stdout;
  char stamp[64];
  os::asctimeNow(stamp, sizeof stamp);
  char* nl = std::strchr(stamp, '\n');
  if (nl) *nl = ' ';
  std::fprintf(out, lineFormat(level), stamp, text ? text : "");
}

CatalogResult formatCatalog(const char* key, const LogArg* args, int argCount, char* out,
                            int size) {
  if (out && size > 0) out[0] = '\0';
  LoggerInside inside;
  std::vector<CatalogEntry>* entries = catalog.load();
  if (!entries || !key) return CatalogResult::NoEntry;
  for (const CatalogEntry& entry : *entries) {
    if (entry.key != key) continue;
    if (!entry.hasFormat) return CatalogResult::NoFormat;
    return fillFormat(out, size, entry.format.c_str(), args, argCount) ? CatalogResult::Formatted
                                                                       : CatalogResult::Refused;
  }
  return CatalogResult::NoEntry;
}

void logCatalog(int level, const char* key, const LogArg* args, int argCount) {
  if (level > logLevel.load(std::memory_order_relaxed)) return;
  char text[2000];
  switch (formatCatalog(key, args, argCount, text, sizeof text)) {
    case CatalogResult::Formatted:
      logMessage(level, text);
      break;
    case CatalogResult::Refused: {
      char refused[2000];
      formatText(refused, sizeof refused, "catalogue format of %s does not fit its arguments", key);
      logMessage(LOG_ERROR, refused);
      break;
    }
    case CatalogResult::NoEntry:
    case CatalogResult::NoFormat:
      break;
  }
}

void loadCatalog(FILE* in) {
  std::vector<CatalogEntry>* entries = in ? readCatalog(in) : nullptr;
  std::vector<CatalogEntry>* old = catalog.exchange(entries);
  waitForLoggers();
  delete old;
}

void setLogLevel(int level) {
  std::printf("Setting Log Level: %d \n", level);
  if (level >= LOG_ERROR && level <= LOG_TRACE) {
    logLevel.store(level, std::memory_order_relaxed);
    return;
  }
  char text[200];
  formatText(text, sizeof text, "Incorrect log level given: %d using the existing loglevel: %d ",
             level, logLevel.load(std::memory_order_relaxed));
  logMessage(LOG_ERROR, text);
}

void openLog(const char* homeDir, const char* nodeName, const char* serverName,
             const char* profileName, int processId) {
  if (catalogLoadDone) return;
  os::LocalTime t = os::localTime();
  char catalogPath[1024];
  formatText(catalogPath, sizeof catalogPath, "%s/etc/LogMessages", homeDir);
  char fileName[1024];
  if (profileName && *profileName) {
    formatText(fileName, sizeof fileName,
               "%s/logs/%s.%s(%s).%04d%02d%02d%02d%02d%02d.%d.datacollector.log", homeDir, nodeName,
               serverName, profileName, t.year, t.month, t.day, t.hour, t.minute, t.second,
               processId);
  } else {
    formatText(fileName, sizeof fileName,
               "%s/logs/%s.%s.%04d%02d%02d%02d%02d%02d.%d.datacollector.log", homeDir, nodeName,
               serverName, t.year, t.month, t.day, t.hour, t.minute, t.second, processId);
  }
  FILE* catalogFile = std::fopen(catalogPath, "r");
  std::fprintf(stderr, "[HM]: Using log file: %s \n", fileName);
  if (!catalogFile) {
    std::fputs("Error: Fail to open LogMessages\n", stderr);
    return;
  }
  // Binary: every line ends in the message's own "\n", on every system
  // (text mode would write "\r\n" on Windows).
  FILE* log = std::fopen(fileName, "a+b");
  if (!log) {
    std::fprintf(stderr, "Could not create %s\n", fileName);
    std::fclose(catalogFile);
    return;
  }
  logName.store(strdup(fileName), std::memory_order_release);
  setvbuf(log, nullptr, _IONBF, 0);
  logStream.store(log);
  loadCatalog(catalogFile);
  std::fclose(catalogFile);
  catalogLoadDone = true;
}

void closeLog() {
  FILE* log = logStream.exchange(nullptr);
  std::vector<CatalogEntry>* entries = catalog.exchange(nullptr);
  char* name = logName.exchange(nullptr);
  waitForLoggers();
  if (log) std::fclose(log);
  delete entries;
  std::free(name);
}

const char* logFileName() {
  return logName.load(std::memory_order_acquire);
}

void resetLog() {
  closeLog();
  catalogLoadDone = false;
  logLevel.store(LOG_INFO, std::memory_order_relaxed);
}
