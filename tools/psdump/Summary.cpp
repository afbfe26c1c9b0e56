#include "Summary.h"

#include <string_view>
#include <type_traits>

#include "Json.h"
#include "Layouts.h"

namespace psdump {

void Summary::connectionClosed(uint64_t bytesRead, bool malformed) {
  bytes += bytesRead;
  if (malformed) ++malformedConnections;
}

void Summary::add(const Record& r) {
  std::pair<const char*, uint64_t*>& cached = named_[static_cast<size_t>(r.tag) & 0xFF];
  if (cached.first != r.name) {
    auto named = byRecord.find(std::string_view(r.name));
    if (named == byRecord.end()) named = byRecord.emplace(r.name, 0).first;
    cached = {r.name, &named->second};
  }
  ++*cached.second;
  if (r.packetKind == PacketKind::Hello) {
    if (r.index == 0) ++helloPackets;
    return;
  }
  if (r.index == 0) {
    ++dataPackets;
    return;
  }
  ++records;
  if (r.type >= 0) {
    if (static_cast<size_t>(r.type) < typed_.size()) {
      uint64_t*& count = typed_[static_cast<size_t>(r.type)];
      if (count == nullptr) count = &byType[r.type];
      ++*count;
    } else {
      ++byType[r.type];
    }
  }
  if (r.hasThread) {
    const uint32_t id = r.thread;
    if (lastThreadCount_ == nullptr || lastThread_ != id) {
      lastThread_ = id;
      lastThreadCount_ = &byThread[id];
    }
    ++*lastThreadCount_;
  }
}

void Summary::merge(const Summary& other) {
  dataPackets += other.dataPackets;
  helloPackets += other.helloPackets;
  records += other.records;
  for (const auto& [name, count] : other.byRecord) byRecord[name] += count;
  for (const auto& [type, count] : other.byType) byType[type] += count;
  for (const auto& [thread, count] : other.byThread) byThread[thread] += count;
}

namespace {

template <typename Map>
void appendCounts(std::string& out, const char* name, const Map& counts) {
  out += ",\"";
  out += name;
  out += "\":{";
  bool first = true;
  for (const auto& entry : counts) {
    if (!first) out += ',';
    first = false;
    std::string key;
    if constexpr (std::is_same_v<typename Map::key_type, std::string>) {
      key = entry.first;
    } else {
      key = std::to_string(entry.first);
    }
    appendJsonString(out, key);
    out += ':' + std::to_string(entry.second);
  }
  out += '}';
}

}  // namespace

std::string Summary::toJson() const {
  std::string out = "{\"summary\":{\"connections\":" + std::to_string(connections);
  out += ",\"malformedConnections\":" + std::to_string(malformedConnections);
  out += ",\"bytes\":" + std::to_string(bytes);
  out += ",\"helloPackets\":" + std::to_string(helloPackets);
  out += ",\"dataPackets\":" + std::to_string(dataPackets);
  out += ",\"records\":" + std::to_string(records);
  appendCounts(out, "byRecord", byRecord);
  appendCounts(out, "byType", byType);
  appendCounts(out, "byThread", byThread);
  out += "}}";
  return out;
}

}  // namespace psdump
