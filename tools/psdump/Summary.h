// Counts over everything decoded: connections, packets, records per record
// name and per event type, and records per thread id.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "Record.h"

namespace psdump {

class Summary {
 public:
  Summary() = default;
  // Not copyable: the caches point into the maps.
  Summary(const Summary&) = delete;
  Summary& operator=(const Summary&) = delete;

  void connectionOpened() { ++connections; }
  // malformed: the connection was dropped on a decoding error.
  void connectionClosed(uint64_t bytesRead, bool malformed);
  void add(const Record& record);
  // Adds the record counts of another summary (not its connections).
  void merge(const Summary& other);

  // {"summary":{...}} on one line.
  std::string toJson() const;

  uint64_t connections = 0;
  uint64_t malformedConnections = 0;
  uint64_t bytes = 0;
  uint64_t dataPackets = 0;
  uint64_t helloPackets = 0;
  uint64_t records = 0;  // event records, without count, time and identity records
  std::map<std::string, uint64_t, std::less<>> byRecord;  // every record, by name
  std::map<int, uint64_t> byType;                         // event records, by type number
  std::map<uint32_t, uint64_t> byThread;                  // records that carry a thread id

 private:
  // By tag: the layout name last counted for it and its counter in byRecord.
  std::array<std::pair<const char*, uint64_t*>, 256> named_{};
  // By type number: its counter in byType, once counted.
  std::array<uint64_t*, 64> typed_{};
  // The thread counted last and its counter in byThread: a thread's records
  // arrive in runs.
  uint32_t lastThread_ = 0;
  uint64_t* lastThreadCount_ = nullptr;
};

}  // namespace psdump
