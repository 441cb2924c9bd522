// The far end of a pseudo-terminal for the benchmarks that time the bare
// line: a thread that takes frames and answers each with a canned reply,
// until it is destroyed. A conversation of several turns (a handshake, say)
// is a list of turns, taken in order and then from the start again; a turn
// with no reply only takes its bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

#include "sim/pty_pair.h"

class FarEnd {
 public:
  struct Turn {
    size_t in;
    std::vector<uint8_t> reply;
  };

  FarEnd(PtyPair& pty, size_t frame_size, std::vector<uint8_t> reply)
      : FarEnd(pty, std::vector<Turn>{{frame_size, std::move(reply)}}) {}
  FarEnd(PtyPair& pty, std::vector<Turn> turns)
      : thread_([&pty, turns = std::move(turns), this] {
          for (size_t next = 0; !stop_.load();) {
            const Turn& turn = turns[next];
            if (pty.readExact(turn.in, 100).size() != turn.in) continue;
            if (!turn.reply.empty()) pty.writeAll(turn.reply);
            next = (next + 1) % turns.size();
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
