// The far end of a pseudo-terminal for the benchmarks that time the bare
// line: a thread that takes frames and answers each with a canned reply,
// until it is destroyed. A conversation of several turns (a handshake, say)
// is a list of turns, taken in order and then from the start again; a turn
// with no reply only takes its bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "connection/com_port.h"
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

// The host's end of the bare line: a serial port in direct mode on the
// pseudo-terminal at 115200 baud.
struct BareLine {
  BareLine() {
    bool opened = false;
    port = std::make_unique<ComPort>(
        ParamMap{{"mode", "direct"}, {"name", pty.slavePath()}, {"baud", "115200"}}, &opened);
    ok = pty.ok() && opened;
  }
  PtyPair pty;
  std::unique_ptr<ComPort> port;
  bool ok = false;
};

// One turn of the host: `out` bytes written, `in` bytes read back.
inline bool turn(ComPort& port, const std::vector<uint8_t>& out, size_t in) {
  uint8_t back[64];
  return in <= sizeof back && port.write(out.data(), int32_t(out.size()), 1000) &&
         (in == 0 || port.read(back, int32_t(in), 1000));
}
