// Packet buffers handed from filling threads to a writing thread and back to
// their pool, all at once: every packet arrives once, whole and in its
// sender's order, and no buffer ever has two holders (a buffer handed out
// twice shows as a torn stamp, and to ThreadSanitizer as a race).
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "publish/NetworkAgentData.h"
#include "publish/PacketBuffer.h"

TEST(PacketHandOverConcurrency, EveryPacketArrivesOnceWholeAndBuffersComeBack) {
  constexpr int kSenders = 3, kPackets = 3000;
  constexpr uint32_t kLength = 512;
  std::shared_ptr<PacketPool> pools[kSenders];
  for (auto& pool : pools) pool = PacketPool::create(kLength);
  std::mutex lock;
  std::deque<NetworkAgentData*> queue;  // the network agent's queue
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; s++) {
    senders.emplace_back([&, s] {
      for (int n = 0; n < kPackets; n++) {
        PacketBuffer buffer = pools[s]->take();
        ASSERT_TRUE(buffer);
        // The stamp fills the whole packet: the sender and its packet number.
        uint32_t stamp = static_cast<uint32_t>(s << 24 | n);
        for (uint32_t at = 0; at < kLength; at += 4) std::memcpy(buffer.data() + at, &stamp, 4);
        auto* data = new NetworkAgentData(kLength, PacketKind::Data);
        data->adopt(std::move(buffer));
        EXPECT_FALSE(buffer);
        std::lock_guard<std::mutex> guard(lock);
        queue.push_back(data);
      }
    });
  }
  int next[kSenders] = {};
  int received = 0;
  while (received < kSenders * kPackets) {
    NetworkAgentData* data = nullptr;
    {
      std::lock_guard<std::mutex> guard(lock);
      if (!queue.empty()) {
        data = queue.front();
        queue.pop_front();
      }
    }
    if (!data) {
      std::this_thread::yield();
      continue;
    }
    uint32_t stamp;
    std::memcpy(&stamp, data->bytes(), 4);
    int sender = static_cast<int>(stamp >> 24);
    ASSERT_LT(sender, kSenders);
    EXPECT_EQ(static_cast<int>(stamp & 0xFFFFFF), next[sender]++) << "sender " << sender;
    for (uint32_t at = 4; at < kLength; at += 4)
      ASSERT_EQ(std::memcmp(data->bytes() + at, &stamp, 4), 0) << "torn packet";
    delete data;  // written: the buffer goes back to its pool
    received++;
  }
  for (std::thread& t : senders) t.join();
  for (int s = 0; s < kSenders; s++) {
    EXPECT_EQ(next[s], kPackets);
    EXPECT_EQ(pools[s]->freeCount(), PacketPool::kKeptFree);
  }
}
