#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "scanner/ring_reader.h"
#include "sim/process_probe.h"
#include "sim/wire_table.h"

TEST(ScannerRing, AFullRingDropsTheExcessAndKeepsWhatIsUnread) {
  ReceiveRing ring;
  const std::vector<uint8_t> bytes = wire_pattern(ReceiveRing::kCapacity + 1, 3);
  std::vector<uint8_t> out(ReceiveRing::kCapacity);
  ring.push(bytes.data(), 1000);
  ASSERT_EQ(1000u, ring.read(out.data(), 1000, Deadline(0)));
  // Wrapped round: 480000 fit, the last byte does not.
  EXPECT_EQ(ReceiveRing::kCapacity, ring.push(bytes.data(), bytes.size()));
  EXPECT_EQ(1u, ring.dropped());
  ASSERT_EQ(ReceiveRing::kCapacity, ring.read(out.data(), out.size(), Deadline(0)));
  EXPECT_TRUE(std::equal(out.begin(), out.end(), bytes.begin()));
}

TEST(ScannerRing, TwoThreadsStreamEveryByteInOrder) {
  ReceiveRing ring;
  const std::vector<uint8_t> bytes = wire_pattern(3 * ReceiveRing::kCapacity, 1);
  std::thread writer([&] {
    for (size_t at = 0; at < bytes.size();) {
      const size_t n = std::min<size_t>(777, bytes.size() - at);
      if (ReceiveRing::kCapacity - ring.size() < n)
        std::this_thread::yield();
      else
        at += ring.push(bytes.data() + at, n);
    }
  });
  std::vector<uint8_t> got;
  uint8_t chunk[1000];
  while (got.size() < bytes.size()) {
    const size_t n = ring.read(chunk, sizeof chunk, Deadline(5000));
    ASSERT_GT(n, 0u);
    got.insert(got.end(), chunk, chunk + n);
  }
  writer.join();
  EXPECT_EQ(0u, ring.dropped());
  EXPECT_TRUE(got == bytes);
}

// Pieces 5 ms apart make one reply, 200 ms apart two; nothing in time is
// no reply; a full buffer ends one.
TEST(ScannerReply, SilenceEndsAReply) {
  for (const int gap : {5, 200}) {
    ReceiveRing ring;
    std::thread sender([&] {
      for (const char* piece : {"HEL", "LO-", "123"}) {
        ring.push(reinterpret_cast<const uint8_t*>(piece), 3);
        std::this_thread::sleep_for(std::chrono::milliseconds(gap));
      }
    });
    uint8_t reply[64];
    EXPECT_EQ(gap == 5 ? 9u : 3u, read_reply(ring, reply, sizeof reply, 1000)) << "gap " << gap;
    sender.join();
  }
  ReceiveRing ring;
  uint8_t reply[4];
  Stopwatch watch;
  EXPECT_EQ(0u, read_reply(ring, reply, sizeof reply, 100));
  EXPECT_GE(watch.ms(), 100);
  const uint8_t five[] = {1, 2, 3, 4, 5};
  ring.push(five, 5);
  EXPECT_EQ(4u, read_reply(ring, reply, sizeof reply, 100));
}
