// The correlation-token ("GPS token") state of the process: tokens are 32
// bits, the registration id assigned from outside in the high bits and a
// counter in the low bits. The counter survives restarts through a small
// counter file under the agent's home, which reserves `cushion` counter values
// with each write, so the file is touched only once per `cushion` tokens.
//
// Layout of a token: the first L bits (L = length of the registration mask
// text) are the registration id, the other 32 - L bits the counter:
// token = (counter AND gpsMask) OR registrationId.
//
// Tokens are drawn under tokenLock; the file is written under saveLock, on
// the event agents' threads, when the serialiser has written an invoke-start
// record whose token reached the saved mark. Set-up runs on the Java side's
// set-up thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/HalLock.h"

class GpsCounter {
 public:
  // Reads the mask text: bit (31 - i) of the registration id is set for
  // every '1' at position i (modulo 32; bits already set stay set), and the
  // counter part is 0xFFFFFFFF shifted right by the text's length (modulo
  // 32). A null mask counts as the empty text. Then takes the cushion (below
  // 1 counts as 1) and reads the counter file at `path` with initCounter.
  void setup(const char* mask, int cushion, const std::string& path);

  // Reads the counter from the file; a missing or unreadable file gives 0
  // and is created holding 0. A file that cannot be created leaves the token
  // state as it was (INFO message). Otherwise the next and the saved token
  // both become (counter AND gpsMask) OR registrationId.
  void initCounter(const std::string& path);

  // The token the next invoke receives; the one after it is one more (a
  // plain 32-bit increment).
  uint32_t next();

  // Persists the counter once `token` has reached the saved mark: the saved
  // token moves up by the cushion, by as many cushions as it takes to pass
  // the token, and the file is rewritten with the new counter value. So the
  // file always holds a counter above every token that was handed here, and
  // a restart never issues one of them again. Does nothing before set-up.
  void save(uint32_t token);

  uint32_t registrationId() const { return registrationId_.load(std::memory_order_relaxed); }
  uint32_t gpsMask() const { return gpsMask_.load(std::memory_order_relaxed); }
  uint32_t savedToken() const { return savedToken_.load(std::memory_order_relaxed); }
  uint32_t peekNextToken() const { return nextToken_.load(std::memory_order_relaxed); }

  // The counter a file's content stands for: one unsigned decimal number of
  // 32 bits, after optional white space. Anything else (no digits, a sign,
  // a number of more than 32 bits) reads as 0; false then.
  static bool parseCounter(const char* text, uint32_t* counter);

 private:
  std::atomic<uint32_t> registrationId_{0};
  std::atomic<uint32_t> gpsMask_{0};
  std::atomic<uint32_t> nextToken_{0};
  std::atomic<uint32_t> savedToken_{0};
  std::atomic<int> cushion_{0};
  // Written and read under saveLock; empty until set-up.
  std::string counterFilePath_;
  HalLock tokenLock_{false};
  HalLock saveLock_{false};
};

// The process-wide state behind the functions below (never destroyed: the
// serialiser may still save while the process ends).
GpsCounter& gpsCounter();

// "%s/etc/%s.%s.%s" with the home directory, node name, server name and
// "haldenGpsCounter.txt".
std::string gpsCounterFilePath();

// Sets up the process-wide token state from the registration mask, with the
// cushion from "gps.cushion" (default 200) and the counter file of this
// installation.
void setupGps(const char* registrationMask);
// Re-reads the counter file of this installation.
void initGpsCounter();
uint32_t getNextGpsToken();
// Handed by the serialiser the counter of every invoke-start correlation
// record it writes.
void saveGpsCounter(uint32_t token);
