// The far end of a pseudo-terminal for the benchmarks that time the bare
// line: a thread that takes frames of one size and answers each with a
// canned reply, until it is destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

#include "sim/pty_pair.h"

class FarEnd {
 public:
  FarEnd(PtyPair& pty, size_t frame_size, std::vector<uint8_t> reply)
      : thread_([&pty, frame_size, reply = std::move(reply), this] {
          while (!stop_.load()) {
            if (pty.readExact(frame_size, 100).size() == frame_size) pty.writeAll(reply);
          }
        }) {}
  ~FarEnd() {
    stop_ = true;
    thread_.join();
  }
  FarEnd(const FarEnd&) = delete;
  FarEnd& operator=(const FarEnd&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
