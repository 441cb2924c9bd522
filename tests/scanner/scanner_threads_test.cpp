#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "scanner/environment.h"
#include "scanner/kovra_api.h"
#include "sim/fake_hid.h"
#include "sim/process_probe.h"
#include "sim/scanner_sim.h"

namespace {

class ScannerThreads : public ::testing::Test {
 protected:
  ScannerThreads() {
    scanner_environment().hid = &backend_;
    sim_ = std::make_unique<ScannerSim>(backend_.addDevice("hid-0", 0x0525, 0xA402), true);
  }
  ~ScannerThreads() override {
    KOVRA_Close();
    scanner_environment().hid = nullptr;
  }

  FakeHidBackend backend_;
  std::unique_ptr<ScannerSim> sim_;
};

std::atomic<int> g_chunks{0};
int32_t count_chunk(const uint8_t*, int32_t, void*) {
  ++g_chunks;
  return 0;
}
int32_t close_from_callback(const uint8_t*, int32_t, void* result) {
  *static_cast<std::atomic<int32_t>*>(result) = KOVRA_Close();
  return 0;
}

}  // namespace

TEST_F(ScannerThreads, ScansStreamWhileTwoThreadsExchange) {
  g_chunks = 0;
  ASSERT_EQ(1, KOVRA_OpenPort(1100, 0, count_chunk, nullptr));
  std::atomic<bool> done{false};
  std::thread scans([&] {
    while (!done) {
      sim_->scan("SCAN");
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
  });
  std::atomic<int> answered{0};
  std::vector<std::thread> askers;
  for (int t = 0; t < 2; ++t) {
    askers.emplace_back([&] {
      for (int i = 0; i < 10; ++i) {
        answered += KOVRA_SetMode(0) == 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
  for (std::thread& asker : askers) asker.join();
  EXPECT_TRUE(wait_until([] { return g_chunks > 0; }));
  done = true;
  scans.join();
  EXPECT_EQ(20, answered.load());
}

// The receive thread closes its own connection: it cannot join itself, so
// it is parked and joined by the next call.
TEST_F(ScannerThreads, CloseInsideTheCallback) {
  const int threads = settled_thread_count();
  std::atomic<int32_t> result{0};
  ASSERT_EQ(1, KOVRA_OpenPort(1100, 0, close_from_callback, &result));
  sim_->scan("X");
  ASSERT_TRUE(wait_until([&] { return result == 1; }));
  EXPECT_EQ(-1, KOVRA_SetMode(0));
  ASSERT_EQ(1, KOVRA_OpenPort(1100, 0, nullptr, nullptr));
  EXPECT_EQ(1, KOVRA_SetMode(0));
  EXPECT_EQ(1, KOVRA_Close());
  EXPECT_EQ(threads, thread_count_settling_to(threads));
}

TEST_F(ScannerThreads, ConcurrentClosesAndManyCyclesLeaveNothing) {
  const int fds = settled_fd_count(), threads = settled_thread_count();
  ASSERT_EQ(1, KOVRA_OpenPort(1100, 0, nullptr, nullptr));
  std::atomic<int> closed{0};
  std::thread a([&] { closed += KOVRA_Close(); }), b([&] { closed += KOVRA_Close(); });
  a.join();
  b.join();
  EXPECT_EQ(2, closed.load());
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(1, KOVRA_OpenPort(1100, 0, nullptr, nullptr)) << i;
    ASSERT_EQ(1, KOVRA_Close());
  }
  EXPECT_EQ(fds, fd_count_settling_to(fds));
  EXPECT_EQ(threads, thread_count_settling_to(threads));
}
