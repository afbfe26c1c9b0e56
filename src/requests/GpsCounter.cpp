#include "requests/GpsCounter.h"

#include <cstdio>
#include <cstring>

#include "base/Log.h"
#include "config/Identity.h"
#include "config/PropertyMgr.h"
#include "platform/os.h"

namespace {

// The file holds one number of at most 10 digits; a few bytes more than
// that cover any white space before it.
constexpr size_t kCounterFileBytes = 63;

// Replaced whole (a new file renamed over the old): a crash mid-write leaves
// the old value, never an empty file that would restart the count at 0 and
// hand out tokens again. A link or a FIFO at the path is refused.
bool writeCounterFile(const std::string& path, uint32_t value) {
  char number[16];
  int length = std::snprintf(number, sizeof number, "%u", value);
  int error = os::replaceFile(path.c_str(), number, static_cast<size_t>(length));
  if (error == os::kNotRegularFile) {
    char text[1200];
    formatText(text, sizeof text,
               "GPSTokenUtils the counter file %s is a link or not a regular file: refused",
               path.c_str());
    logMessage(LOG_WARNING, text);
  }
  return error == 0;
}

}  // namespace

bool GpsCounter::parseCounter(const char* text, uint32_t* counter) {
  *counter = 0;
  if (!text) return false;
  while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r') text++;
  if (*text < '0' || *text > '9') return false;
  uint64_t value = 0;
  for (; *text >= '0' && *text <= '9'; text++) {
    value = value * 10 + static_cast<uint64_t>(*text - '0');
    if (value > 0xFFFFFFFFu) return false;
  }
  *counter = static_cast<uint32_t>(value);
  return true;
}

void GpsCounter::setup(const char* mask, int cushion, const std::string& path) {
  if (!mask) mask = "";
  logCatalogArgs(LOG_DEBUG, "SETUPGPS_REGMASK", mask);
  size_t length = std::strlen(mask);
  uint32_t id = registrationId_.load(std::memory_order_relaxed);
  for (size_t i = 0; i < length; i++) {
    if (mask[i] == '1') id |= 0x80000000u >> (i % 32);
  }
  registrationId_.store(id, std::memory_order_relaxed);
  logCatalogArgs(LOG_DEBUG, "SETUPGPS_REGID", static_cast<unsigned>(id));
  uint32_t counterBits = 0xFFFFFFFFu >> (length % 32);
  gpsMask_.store(counterBits, std::memory_order_relaxed);
  logCatalogArgs(LOG_DEBUG, "SETUPGPS_GPSMASK", static_cast<unsigned>(counterBits));
  // A cushion of 0 would never move the saved mark, so a restart would hand
  // out every token of this run again.
  cushion_.store(cushion < 1 ? 1 : cushion, std::memory_order_relaxed);
  initCounter(path);
}

void GpsCounter::initCounter(const std::string& path) {
  logCatalogArgs(LOG_DEBUG, "INITGPS_FILE", path.c_str());
  // The file and its path are the saver's too: an event agent may be saving
  // while the set-up thread reads the file again.
  HalLockGuard guard(saveLock_);
  uint32_t counter = 0;
  std::string text;
  if (os::readRegularFile(path.c_str(), kCounterFileBytes, &text) == 0) {
    if (!parseCounter(text.c_str(), &counter))
      logMessage(LOG_WARNING,
                 "GPSTokenUtils In initGpsCounter(), the counter file holds no number, "
                 "counting from 0");
  } else if (!writeCounterFile(path, 0)) {
    logMessage(LOG_INFO, "GPSTokenUtils In initGpsCounter(), counterFp = NULL for writing\n");
    return;
  }
  counterFilePath_ = path;
  uint32_t first = (counter & gpsMask()) | registrationId();
  nextToken_.store(first, std::memory_order_relaxed);
  savedToken_.store(first, std::memory_order_relaxed);
}

uint32_t GpsCounter::next() {
  HalLockGuard guard(tokenLock_);
  // Atomic as well, so that tokens stay distinct even before the profiler
  // interface (and with it the lock) exists.
  return nextToken_.fetch_add(1, std::memory_order_relaxed);
}

void GpsCounter::save(uint32_t token) {
  if (token < savedToken()) return;
  HalLockGuard guard(saveLock_);
  uint32_t saved = savedToken();
  // Another event agent may have moved the mark meanwhile.
  if (token < saved || counterFilePath_.empty()) return;
  uint32_t mask = gpsMask();
  uint64_t cushion = static_cast<uint64_t>(cushion_.load(std::memory_order_relaxed));
  // The token itself may have been issued, so the mark must pass it, not
  // just reach it; and tokens whose records were dropped can leave a gap of
  // more than one cushion.
  uint64_t steps = 1;
  if ((token & ~mask) == (saved & ~mask)) steps += ((token & mask) - (saved & mask)) / cushion;
  uint32_t value = static_cast<uint32_t>((saved & mask) + steps * cushion);
  savedToken_.store((value & mask) | registrationId(), std::memory_order_relaxed);
  if (!writeCounterFile(counterFilePath_, value))
    logMessage(LOG_INFO, "GPSTokenUtils In saveGpsCounter(), counterFp = NULL for writing\n");
}

GpsCounter& gpsCounter() {
  static GpsCounter* const state = new GpsCounter();
  return *state;
}

std::string gpsCounterFilePath() {
  char path[1024];
  formatText(path, sizeof path, "%s/etc/%s.%s.%s", homeDir, nodeName, serverName,
             "haldenGpsCounter.txt");
  return path;
}

void setupGps(const char* registrationMask) {
  gpsCounter().setup(registrationMask, getIntProperty("gps.cushion", 200), gpsCounterFilePath());
}

void initGpsCounter() {
  gpsCounter().initCounter(gpsCounterFilePath());
}

uint32_t getNextGpsToken() {
  return gpsCounter().next();
}

void saveGpsCounter(uint32_t token) {
  gpsCounter().save(token);
}
