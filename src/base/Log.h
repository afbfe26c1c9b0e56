// Process-wide logging: one log file per process start, a message catalogue
// that maps keys to format texts, and a five-step level threshold. Lines go to
// standard output while no log file is open.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdio>

// Levels.
constexpr int LOG_ERROR = -2;
constexpr int LOG_WARNING = -1;
constexpr int LOG_INFO = 0;
constexpr int LOG_DEBUG = 1;
constexpr int LOG_TRACE = 2;

// The threshold: a line of level L is written only when L <= logLevel.
extern std::atomic<int> logLevel;

// Writes one line at the given level.
void logMessage(int level, const char* text);

// Looks the key up in the catalogue and writes its format filled with the
// arguments. The caller passes the number of arguments it gives, so a
// catalogue format that asks for more is never formatted (the catalogue is a
// file and must not be able to crash the host); such a format logs the key at
// error level instead. Every argument is a const char*, an int or an
// unsigned int (passed as printf would take them).
struct LogArg {
  enum Kind { Str, Int, UInt } kind;
  const char* s;
  long long i;
  LogArg(const char* v) : kind(Str), s(v), i(0) {}
  LogArg(int v) : kind(Int), s(nullptr), i(v) {}
  LogArg(unsigned v) : kind(UInt), s(nullptr), i(v) {}
};
void logCatalog(int level, const char* key, const LogArg* args = nullptr, int argCount = 0);
// A line below the threshold costs only the comparison: debug lines sit on
// the request path.
template <typename... A>
void logCatalogArgs(int level, const char* key, A... args) {
  if (level > logLevel.load(std::memory_order_relaxed)) return;
  const LogArg list[] = {LogArg(args)...};
  logCatalog(level, key, list, static_cast<int>(sizeof...(A)));
}
inline void logCatalogArgs(int level, const char* key) {
  if (level > logLevel.load(std::memory_order_relaxed)) return;
  logCatalog(level, key, nullptr, 0);
}

// Fills the catalogue format of key with the arguments into out (size bytes,
// cut at its end). Refused: the format does not fit the arguments.
enum class CatalogResult { Formatted, NoEntry, NoFormat, Refused };
CatalogResult formatCatalog(const char* key, const LogArg* args, int argCount, char* out, int size);

// Reads a catalogue from an open stream (lines up to the first that starts
// with '#') and makes it the process-wide catalogue, freeing the one before.
// openLog loads the catalogue file through it; it runs before other threads
// log. A null stream leaves no catalogue.
void loadCatalog(FILE* in);

// Sets the threshold; prints the request and rejects levels outside -2..2.
void setLogLevel(int level);

// Opens the dated log file under <home>/logs and loads <home>/etc/LogMessages.
// Runs once; a later call does nothing once an earlier one got as far as
// loading the catalogue.
void openLog(const char* homeDir, const char* nodeName, const char* serverName,
             const char* profileName, int processId);

// Closes the log file and frees the catalogue; later lines go to standard
// output and the catalogue is not loaded again.
void closeLog();

// The full path of the log file, or null when none was opened.
const char* logFileName();

// printf into a fixed buffer, cut at its end.
void formatText(char* out, int size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
