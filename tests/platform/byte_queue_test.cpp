#include <thread>

#include <gtest/gtest.h>

#include "platform/byte_queue.h"

TEST(ByteQueue, KeepsOrderAndClears) {
  ByteQueue queue;
  EXPECT_TRUE(queue.empty());
  for (uint8_t b : {1, 2, 3}) queue.push(b);
  EXPECT_EQ(3, queue.size());
  for (uint8_t expected : {1, 2, 3}) {
    uint8_t b = 0;
    ASSERT_TRUE(queue.front(b));
    EXPECT_EQ(expected, b);
    queue.pop();
  }
  EXPECT_TRUE(queue.empty());
  queue.push(9);
  queue.push(8);
  queue.clear();
  EXPECT_EQ(0, queue.size());
  EXPECT_TRUE(queue.empty());
}

TEST(ByteQueue, EmptyFrontAndPopAreHarmless) {
  ByteQueue queue;
  uint8_t b = 0x5A;
  EXPECT_FALSE(queue.front(b));
  EXPECT_EQ(0x5A, b);
  queue.pop();
  EXPECT_EQ(0, queue.size());
  queue.push(7);
  queue.pop();
  queue.pop();
  EXPECT_TRUE(queue.empty());
}

TEST(ByteQueue, ProducerAndConsumerPassBytesInOrder) {
  constexpr int kCount = 100000;
  ByteQueue queue;
  std::thread producer([&] {
    for (int i = 0; i < kCount; ++i) queue.push(uint8_t(i * 31 + 7));
  });
  int received = 0;
  int wrong = 0;
  while (received < kCount) {
    // Take only what size() promised, as the ports do.
    for (int n = queue.size(); n > 0; --n) {
      uint8_t b = 0;
      if (!queue.front(b)) {
        ++wrong;
        break;
      }
      queue.pop();
      if (b != uint8_t(received * 31 + 7)) ++wrong;
      ++received;
    }
    if (received < kCount) std::this_thread::yield();
  }
  producer.join();
  EXPECT_EQ(0, wrong);
  EXPECT_TRUE(queue.empty());
}
